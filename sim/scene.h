// The scene's own data: positions and the pedestrians a scenario places.
// Nothing here depends on the simulated game, so that readers of scenarios
// outside the simulator share it.
#pragma once

#include <cstdint>

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
  bool reject_transform = false;  // RwIm3DTransform refuses batches centred under this ped
};

}  // namespace sim
