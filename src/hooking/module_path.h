// The plugin's own module and the path Windows knows it by.
#pragma once

#include <cstddef>
#include <string>

#include "platform/os.h"

namespace hooking {

// The module holding this code, asked for without taking a reference.
bool own_module(os::module_handle* handle);

// The module's wide path, read into ever larger buffers until it is whole: a
// cut path would be taken for a folder higher up.
bool wide_module_path(os::module_handle handle, std::wstring* path);

// Where the folder ends in a path: just behind its last separator of either
// kind, 0 when it has none.
template <class Char>
std::size_t folder_length(const Char* path, std::size_t length) {
  for (std::size_t i = length; i > 0; --i) {
    if (path[i - 1] == Char('\\') || path[i - 1] == Char('/')) return i;
  }
  return 0;
}

}  // namespace hooking
