#include "bench/bench_scene.h"

#include <cstdlib>
#include <cstring>

#include "hooking/events/event_hub.h"
#include "sim/host_world.h"
#include "overlay/plugin_state.h"
#include "sim/site_function.h"
#include "tests/support/reference_ring.h"
#include "tests/support/test_game.h"
#include "tests/support/test_sites.h"

namespace bench {
namespace {

int scene_peds = 0;

constexpr hooking::host_address reference_site = 0x401700;

// The reference frame: what the draw pass does, with the reference rings.
void reference_draw_handler() {
  overlay::plugin_state& s = overlay::state();
  ++s.frame_count;
  test::reference_draw_rings();
}

events::game_event<reference_site>& reference_hub() {
  static events::game_event<reference_site> hub;
  return hub;
}

void prepare() {
  static const bool ready = [] {
    test::prepare_plugin();
    test::reset_overlay();
    test::write_ring_txd(test::txd_place::beside_plugin);
    sim::host_world& world = sim::host_world::get();
    world.start_up();
    if (!overlay::state().textures_loaded) std::abort();
    sim::site_function::write_call(reference_site, reinterpret_cast<const void*>(&sim::host_world::game_drawing));
    reference_hub().add_handler(reference_hub().after, &reference_draw_handler);
    return true;
  }();
  (void)ready;
}

}  // namespace

void set_scene(int peds_in_range) {
  prepare();
  sim::host_world& world = sim::host_world::get();
  world.recording = false;
  world.keep_fans = false;
  world.set_pool_size(peds_in_range + 1 > 140 ? peds_in_range + 1 : 140);
  world.set_player(0, {0.0f, 0.0f, 0.0f});
  for (int i = 1; i <= peds_in_range; ++i) {
    sim::ped_setup p;
    p.slot = i;
    // Spread over a 20-unit square around the player, every one in range.
    p.position = {float(i % 12) * 1.6f - 9.0f, float(i / 12) * 1.6f - 9.0f, float(i % 5) * 0.4f - 1.0f};
    // Mixed healths: a quarter at full health, the rest spread over the range.
    p.health = i % 4 == 0 ? 100.0f : float((i * 37) % 99 + 1);
    p.armour = 100.0f;  // as most armoured pedestrians wear it
    world.add_ped(p);
  }
  scene_peds = peds_in_range;
}

void* run_drawing_event(ring_path path) {
  sim::host_world& world = sim::host_world::get();
  if (path == ring_path::reference) return test::run_site(reference_site);
  if (path == ring_path::overlays) {
    overlay::ring_settings& settings = overlay::state().settings;
    settings.show_armour = settings.show_recent_damage = true;
    settings.fade_distance = 5.0f;
    settings.show_after_damage = 60;
    world.set_clock(static_cast<std::uint32_t>(world.frame) * 33u);
    // Each pedestrian hit once every 100 frames, in turn: about a third of
    // them show what the last hit took at any time.
    for (int i = 1 + world.frame % 100; i <= scene_peds; i += 100) {
      float health = 0.0f;
      std::memcpy(&health, world.ped_at(i) + host::ped::health, sizeof health);
      world.set_health(i, health > 1.0f ? health - 0.5f : 100.0f);
    }
  }
  return world.draw();
}

}  // namespace bench
