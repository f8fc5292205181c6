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
// z + slope[0] (x - min[0]) + slope[1] (y - min[1]) over the rectangle, as
// the two collision triangles split along its diagonal from min to max.
struct ground_piece {
  float min[2] = {0.0f, 0.0f};
  float max[2] = {0.0f, 0.0f};
  float z = 0.0f;
  float slope[2] = {0.0f, 0.0f};
  std::int32_t frames[2] = {0, 0};  // present in these drawing events (counted from 1); 0 0 always
  bool vehicle = false;             // a vehicle's roof or deck
  bool box = false;                 // a collision box's top: a hit on it fills no triangle
  bool covers(float x, float y) const { return x >= min[0] && x <= max[0] && y >= min[1] && y <= max[1]; }
  float top(float x, float y) const { return z + slope[0] * (x - min[0]) + slope[1] * (y - min[1]); }
  bool present(std::int32_t frame) const { return frames[0] == 0 || (frame >= frames[0] && frame <= frames[1]); }
  // The corners of the collision triangle over (x, y).
  void triangle(float x, float y, float corners[3][3]) const {
    const float x0 = min[0], y0 = min[1], x1 = max[0], y1 = max[1];
    const bool lower = (x - x0) * (y1 - y0) >= (y - y0) * (x1 - x0);  // the one through (x1, y0)
    const float xs[3] = {x0, x1, lower ? x1 : x0}, ys[3] = {y0, lower ? y0 : y1, y1};
    for (int i = 0; i < 3; ++i) {
      corners[i][0] = xs[i];
      corners[i][1] = ys[i];
      corners[i][2] = top(xs[i], ys[i]);
    }
  }
};

// The piece whose top a vertical line from height from down to height to
// meets first in a drawing event: of the tops at or below from, the highest,
// if not below to; -1 for none. Vehicles' only when asked for.
inline int ground_top(const std::vector<ground_piece>& ground, float x, float y, float from, float to, float* top,
                      std::int32_t frame = 0, bool vehicles = true) {
  int found = -1;
  for (std::size_t i = 0; i < ground.size(); ++i) {
    const ground_piece& g = ground[i];
    if (!g.covers(x, y) || !g.present(frame) || (g.vehicle && !vehicles)) continue;
    const float t = g.top(x, y);
    if (t <= from && t >= to && (found < 0 || t > *top)) {
      *top = t;
      found = static_cast<int>(i);
    }
  }
  return found;
}

}  // namespace sim
