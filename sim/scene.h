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
  // Who it is and how it stands to the player.
  std::uint32_t kind = 4;  // the game's m_nPedType: a male civilian
  std::uint32_t respect = 0, like = 0, dislike = 0, hate = 0;  // its acquaintance record: bit n, kind n
  std::int32_t attacking = 0;     // 0, or the type of its attacking task: 1000, 1001, 1002
  int attacking_slot = -1;        // whom it attacks: a slot, or -1 for the player
  bool group = false;             // a member of the player's group
  bool pursuing = false;          // police in the player's wanted record
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
