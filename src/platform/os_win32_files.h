// What each way of opening a file asks of CreateFile.
#pragma once

#include <windows.h>

#include "platform/os.h"

namespace os {

struct win32_open {
  DWORD access;
  DWORD disposition;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
};

inline win32_open win32_open_of(file_open how) {
  switch (how) {
    case file_open::write_new: return {GENERIC_WRITE, CREATE_ALWAYS};
    case file_open::append: return {FILE_APPEND_DATA, OPEN_ALWAYS};
    case file_open::read_existing: break;
  }
  return {GENERIC_READ, OPEN_EXISTING};
}

}  // namespace os
