#include "sim/host_world.h"
#include "sim/scenario.h"

namespace sim {

void apply_scene(const scenario& s, host_world& world) {
  world.set_pool_size(s.pool_size);
  world.set_area(s.area);
  world.set_camera_forward(s.camera_forward[0], s.camera_forward[1]);
  if (s.player) {
    world.set_player(s.player->slot, s.player->position, s.player->use_matrix);
  } else {
    world.remove_player();
  }
  world.set_ground(s.ground);
  for (const ped_setup& p : s.peds) world.add_ped(p);
  if (s.player) world.set_targets(s.player->lock_target, s.player->aim_target);
  for (const foreign_patch_setup& p : s.foreign_patches) world.patch_by_another_module(p.site, p.form);
}

}  // namespace sim
