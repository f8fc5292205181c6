#include "hooking/plugin_folder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/os.h"

namespace hooking {
namespace {

// Static and never freed: the handlers may ask for it up to the very end.
struct folder_record {
  char folder[max_long_path];
  char scratch[max_long_path + 8];
};

folder_record record;  // zero-initialised at load

// The module's wide path, grown until it is whole: a cut path would be taken
// for a folder higher up.
bool wide_module_path(os::module_handle handle, std::wstring* path) {
  std::vector<wchar_t> buffer;
  for (std::uint32_t size = max_path_buffer; size <= max_long_path; size *= 2) {
    buffer.assign(size, L'\0');
    const std::uint32_t length = os::get_module_file_name_w(handle, buffer.data(), size);
    if (length == 0) return false;
    if (length < size) {
      path->assign(buffer.data(), length);
      return true;
    }
  }
  return false;
}

// Where the folder ends in a path: just behind its last separator of either
// kind, 0 when it has none.
template <class Char>
std::size_t folder_length(const Char* path, std::size_t length) {
  for (std::size_t i = length; i > 0; --i) {
    if (path[i - 1] == Char('\\') || path[i - 1] == Char('/')) return i;
  }
  return 0;
}

// A whole wide path in the ANSI code page, or false when a character has no
// exact counterpart there.
bool to_ansi(const std::wstring& wide, std::string* narrow) {
  std::vector<char> buffer(wide.size() * 4 + 1);
  if (!os::wide_to_ansi(wide.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()))) return false;
  narrow->assign(buffer.data());
  return true;
}

// Folder and file of a module path, in the ANSI code page. The path is split
// on its wide form: in a double-byte code page a character's second byte can
// be 0x5C, the backslash, and splitting the converted text would cut it in
// two. A path the code page cannot hold is taken in its short (8.3) form,
// which is ASCII.
bool narrow_module_parts(os::module_handle handle, std::string* folder, std::string* file) {
  std::wstring wide;
  if (!wide_module_path(handle, &wide)) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::size_t cut = folder_length(wide.c_str(), wide.size());
    if (cut != 0 && to_ansi(wide.substr(0, cut), folder) && to_ansi(wide.substr(cut), file)) return true;
    if (cut == 0 && to_ansi(wide, file)) {
      *folder = *file;  // no separator: the whole path serves as the folder
      return true;
    }
    if (attempt == 1) break;
    std::vector<wchar_t> short_form(wide.size() + 1);
    const std::uint32_t length =
        os::get_short_path_name_w(wide.c_str(), short_form.data(), static_cast<std::uint32_t>(short_form.size()));
    if (length == 0 || length >= short_form.size()) return false;
    wide.assign(short_form.data(), length);
  }
  return false;
}

// Fills folder with the module's folder and its trailing separator; false
// when the path has no separator.
bool module_folder(os::module_handle handle, std::string* folder) {
  std::string file;
  if (narrow_module_parts(handle, folder, &file)) return folder_length(folder->c_str(), folder->size()) != 0;
  // Last resort, the narrow call: one less than the buffer, so the last byte
  // stays zero even when the path is cut.
  char narrow[max_path_buffer] = {};
  os::get_module_file_name(handle, narrow, max_path_buffer - 1);
  const std::size_t length = std::strlen(narrow);
  const std::size_t cut = folder_length(narrow, length);
  folder->assign(narrow, cut != 0 ? cut : length);
  return cut != 0;
}

bool own_module(os::module_handle* handle) {
  *handle = nullptr;
  return os::get_module_handle_ex(os::module_from_address | os::module_unchanged_refcount,
                                  reinterpret_cast<const void*>(&plugin_folder), handle);
}

bool look_up_folder() {
  os::module_handle handle = nullptr;
  if (!own_module(&handle)) {
    handle = nullptr;
    show_error_box("FILESYSTEM\nFailed to retrieve plugin dir path");
  }
  std::string folder;
  module_folder(handle, &folder);
  if (folder.size() < sizeof record.folder) std::memcpy(record.folder, folder.c_str(), folder.size() + 1);
  return true;
}

}  // namespace

const char* plugin_folder() {
  static const bool looked_up = look_up_folder();
  (void)looked_up;
  return record.folder;
}

bool find_plugin_folder_quietly(std::string* folder) {
  folder->clear();
  os::module_handle handle = nullptr;
  if (own_module(&handle) && module_folder(handle, folder)) return true;
  folder->clear();
  return false;
}

bool find_plugin_path_quietly(std::string* path) {
  path->clear();
  os::module_handle handle = nullptr;
  std::string folder;
  std::string file;
  if (!own_module(&handle) || !narrow_module_parts(handle, &folder, &file)) return false;
  *path = folder == file ? file : folder + file;
  return true;
}

const char* plugin_relative_path(const char* relative_name) {
  const char* folder = plugin_folder();
  const std::size_t folder_length = std::strlen(folder);
  const std::size_t name_length = std::strlen(relative_name);
  const char* prefix = "";
  if (folder_length + name_length >= max_path_buffer - 1 && std::strncmp(folder, "\\\\?\\", 4) != 0 &&
      std::strchr(folder, '/') == nullptr) {
    if (folder_length > 2 && folder[1] == ':' && folder[2] == '\\') {
      prefix = "\\\\?\\";
    } else if (std::strncmp(folder, "\\\\", 2) == 0) {
      prefix = "\\\\?\\UNC";
      ++folder;  // the share's two backslashes become one behind UNC
    }
  }
  const std::size_t prefix_length = std::strlen(prefix);
  const std::size_t kept = std::strlen(folder);
  if (prefix_length + kept + name_length >= sizeof record.scratch) {
    record.scratch[0] = '\0';
    return record.scratch;
  }
  std::memcpy(record.scratch, prefix, prefix_length);
  std::memcpy(record.scratch + prefix_length, folder, kept);
  std::memcpy(record.scratch + prefix_length + kept, relative_name, name_length + 1);
  return record.scratch;
}

void show_error_box(const char* format, ...) {
  static char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  os::message_box(os::get_active_window(), text, "hookkit", os::mb_ok | os::mb_iconerror);
}

}  // namespace hooking
