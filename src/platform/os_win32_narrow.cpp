// The narrow file open, in a file of its own: the plugin never opens a file
// this way, so its module takes neither this code nor CreateFileA.
#include <windows.h>

#include <cstring>

#include "platform/os.h"
#include "platform/seam_check.h"
#include "platform/os_win32_files.h"

namespace os {

file_handle open_file(const char* path, file_open how) {
  if (detail::enter(call::file)) return nullptr;
  // Windows turns a narrow path into a wide one in a buffer of MAX_PATH
  // characters, prefix or none; Wine does not, so the rule is kept here.
  if (std::strlen(path) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  const win32_open o = win32_open_of(how);
  const HANDLE h = CreateFileA(path, o.access, o.share, nullptr, o.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

}  // namespace os
