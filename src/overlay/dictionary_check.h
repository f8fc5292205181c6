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

struct dictionary_check {
  bool readable = false;
  std::string why;  // when not readable: "cut at byte 812", ...
};

// A dictionary chunk at the start, every chunk inside it within its parent,
// the textures it announces present as Direct3D 8 or 9 texture natives.
dictionary_check check_dictionary(const std::uint8_t* bytes, std::size_t size);
dictionary_check check_dictionary_file(const std::wstring& path);

}  // namespace overlay
