// A whole file through the seam, in blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/os.h"

namespace os {

// Appends the file's bytes, at most limit of them; false on a read error.
inline bool read_all(file_handle file, std::vector<std::uint8_t>* bytes, std::size_t limit = SIZE_MAX) {
  std::uint8_t block[16384];
  for (;;) {
    const std::size_t room = limit - bytes->size();
    if (room == 0) return true;
    std::uint32_t got = 0;
    if (!read_file(file, block, static_cast<std::uint32_t>(room < sizeof block ? room : sizeof block), &got)) return false;
    if (got == 0) return true;
    bytes->insert(bytes->end(), block, block + got);
  }
}

}  // namespace os
