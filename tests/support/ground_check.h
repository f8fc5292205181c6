// Whether a drawn disc lies on the ground of a scene as a ring should: every
// vertex 0.09 above the ground under it (level with the centre where that
// ground lies beyond the follow rule), and what share of the disc's area is
// above the ground. The ground is worked out here from the scene's pieces.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/scene.h"

namespace test {

struct drawn_disc {
  std::vector<std::array<float, 3>> points;  // the hub first
  std::vector<std::uint16_t> indices;        // triangles, counted from the hub
};

struct ground_verdict {
  int vertices = 0;
  int off = 0;            // vertices not where the rule puts them
  std::string first_off;  // the first of them, said
  double above = 0.0;     // share of the area above the ground
};

ground_verdict check_on_ground(const std::vector<sim::ground_piece>& ground, const drawn_disc& disc);

// The highest top over (x, y) of the pieces, or false where there is none.
bool scene_ground(const std::vector<sim::ground_piece>& ground, float x, float y, float* z);

// A scene of the game's ground with a pedestrian on each kind: flat, 1.5 in
// the air, a 20 degree slope, stairs (risers 0.2, treads 0.3) and a kerb
// (0.15) across the ring; the camera looking along +y or, seen from above
// the stairs, along -y.
struct ground_ped {
  const char* where;
  int slot;
  float x, y;
  double least_above;  // share of the disc's area
};
extern const ground_ped ground_peds[5];
nlohmann::json ground_scene(bool looking_down_the_stairs);

}  // namespace test
