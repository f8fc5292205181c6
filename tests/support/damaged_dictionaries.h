// Copies of a whole dictionary, as written by the dictionary library, whose
// chunks still nest soundly but whose first texture the game's reader fails
// on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

struct damaged_dictionary {
  std::string what;
  std::vector<std::uint8_t> bytes;
};

// Sides 0 x 0; the first level's size 0x1000 larger; raster and Direct3D
// formats 0; a texture struct holding only its platform.
std::vector<damaged_dictionary> damaged_copies(const std::vector<std::uint8_t>& whole);

}  // namespace test
