// The scene's own data: positions and the pedestrians a scenario places.
// Nothing here depends on the simulated game, so that readers of scenarios
// outside the simulator share it.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

struct vec3 {
  float x = 0.0f, y = 0.0f, z = 0.0f;
};

struct ped_setup {
  int slot = 0;
  vec3 position;
  float health = 100.0f;
  float max_health = 100.0f;
  float armour = 0.0f;
  bool in_vehicle = false;
  bool visible = true;
  std::uint8_t area = 0;
  bool use_matrix = true;
  bool reject_transform = false;  // RwIm3DTransform refuses batches holding a vertex at this ped's centre
  float velocity[2] = {0.0f, 0.0f};  // units a second, on the game's clock
};

// A solid piece of the world's ground: its top lies at
// z + slope[0] (x - min[0]) + slope[1] (y - min[1]) over the rectangle.
struct ground_piece {
  float min[2] = {0.0f, 0.0f};
  float max[2] = {0.0f, 0.0f};
  float z = 0.0f;
  float slope[2] = {0.0f, 0.0f};
  bool covers(float x, float y) const { return x >= min[0] && x <= max[0] && y >= min[1] && y <= max[1]; }
  float top(float x, float y) const { return z + slope[0] * (x - min[0]) + slope[1] * (y - min[1]); }
};

// The top at (x, y) that a vertical line from height from down to height to
// meets first: of the tops at or below from, the highest, if not below to.
inline bool ground_top(const std::vector<ground_piece>& ground, float x, float y, float from, float to, float* top) {
  bool found = false;
  for (const ground_piece& g : ground) {
    if (!g.covers(x, y)) continue;
    const float t = g.top(x, y);
    if (t <= from && t >= to && (!found || t > *top)) {
      *top = t;
      found = true;
    }
  }
  return found;
}

}  // namespace sim
