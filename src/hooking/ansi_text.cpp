#include "hooking/ansi_text.h"

#include <cstring>
#include <vector>

#include "platform/os.h"

namespace hooking {
namespace {

// A double-byte code page takes at most two bytes a UTF-16 unit; UTF-8 up to
// three, and four for a pair.
std::vector<char> buffer_for(const std::wstring& wide) { return std::vector<char>(wide.size() * 4 + 1, '\0'); }

}  // namespace

bool to_ansi(const std::wstring& wide, std::string* narrow) {
  std::vector<char> buffer = buffer_for(wide);
  if (!os::wide_to_ansi(wide.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()))) return false;
  narrow->assign(buffer.data());
  return true;
}

std::wstring widened(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

std::string ansi_for_display(const std::wstring& wide) {
  std::vector<char> buffer = buffer_for(wide);
  // A lossy conversion still fills the buffer, with the code page's stand-ins.
  os::wide_to_ansi(wide.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  buffer.back() = '\0';
  return buffer.data();
}

}  // namespace hooking
