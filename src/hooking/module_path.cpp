#include "hooking/module_path.h"

#include <vector>

#include "hooking/plugin_folder.h"

namespace hooking {

bool own_module(os::module_handle* handle) {
  *handle = nullptr;
  return os::get_module_handle_ex(os::module_from_address | os::module_unchanged_refcount,
                                  reinterpret_cast<const void*>(&plugin_folder), handle);
}

bool wide_module_path(os::module_handle handle, std::wstring* path) {
  std::vector<wchar_t> buffer;
  // Doubled up to the longest path Windows has, and that size itself.
  for (std::uint32_t size = max_path_buffer;; size = size * 2 < max_long_path ? size * 2 : max_long_path) {
    buffer.assign(size, L'\0');
    const std::uint32_t length = os::get_module_file_name_w(handle, buffer.data(), size);
    if (length == 0) return false;
    if (length < size) {
      path->assign(buffer.data(), length);
      return true;
    }
    if (size == max_long_path) return false;
  }
}

}  // namespace hooking
