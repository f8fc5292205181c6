// Whether a file is a texture dictionary the game's loader can read. The
// loader gives back an empty dictionary for a file it cannot open, but one
// whose dictionary chunk it finds and then fails to read has its stream
// closed twice, which damages the game's heap: such a file is never handed
// to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace overlay {

// Larger files are refused by their size, without being read.
constexpr std::uint64_t max_dictionary_bytes = 64u << 20;

struct [[nodiscard]] dictionary_check {
  bool readable = false;
  std::string why;  // when not readable: "cut at byte 812", ...
};

// Every texture as the game's reader reads it; a file that contradicts
// itself is refused too, though the game might read on.
dictionary_check check_dictionary(const std::uint8_t* bytes, std::size_t size);
dictionary_check check_dictionary_file(const std::wstring& path, std::uint64_t size);

}  // namespace overlay
