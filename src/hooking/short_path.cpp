#include "hooking/short_path.h"

#include <vector>

#include "hooking/plugin_folder.h"
#include "platform/os.h"

namespace hooking {

bool short_path(const std::wstring& path, std::wstring* out) {
  std::uint32_t size = static_cast<std::uint32_t>(path.size() + 1);
  // Twice at most: the second ask has the size the first one answered; a
  // path that grew in between is not chased further.
  for (int attempt = 0; attempt < 2 && size <= max_long_path; ++attempt) {
    std::vector<wchar_t> buffer(size, L'\0');
    const std::uint32_t length = os::get_short_path_name_w(path.c_str(), buffer.data(), size);
    if (length == 0) return false;
    if (length < size) {
      out->assign(buffer.data(), length);
      return true;
    }
    size = length;
  }
  return false;
}

}  // namespace hooking
