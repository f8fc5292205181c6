#include "bench/bench_scene.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "overlay/plugin.h"
#include "overlay/plugin_state.h"
#include "overlay/product_files.h"
#include "sim/host_world.h"
#include "sim/os_linux.h"
#include "sim/site_function.h"
#include "txd/dictionary.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

int scene_peds = 0;

void* HOST_ENTRY game_function() { return nullptr; }

// A throw-away game folder with the plugin "in" scripts\ beside its
// dictionary, the simulated game laid out as build 1001, the plugin's
// handlers registered and its start-up run.
void prepare() {
  static const bool ready = [] {
    char pattern[] = "/tmp/morva-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root || chdir(root) != 0) std::abort();
    static char removed_at_exit[64];
    std::snprintf(removed_at_exit, sizeof removed_at_exit, "%s", root);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(removed_at_exit, ignored);
    });
    const std::string scripts = std::string(root) + "/scripts/";
    fs::create_directories(scripts);
    os::linux_host::set_module_file_name(scripts + overlay::plugin_file_name);
    txd::dictionary dict;
    for (const char* name : {overlay::background_texture, overlay::foreground_texture}) {
      txd::texture t;
      t.name = name;
      t.levels = txd::mip_chain(2, 2, std::vector<std::uint8_t>(16, 200));
      dict.textures.push_back(t);
    }
    if (!txd::write_file(scripts + overlay::dictionary_file_name, dict)) std::abort();
    sim::host_world& world = sim::host_world::get();
    if (!world.lay_out(hooking::version_1001)) std::abort();
    static overlay::MorvaHealthRing plugin;
    world.start_up();
    if (!overlay::state().textures_loaded) std::abort();
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

void make_site(hooking::host_address site) {
  prepare();
  sim::site_function::write_call(site, reinterpret_cast<const void*>(&game_function));
}

void* run_site(hooking::host_address site) { return sim::site_function::run(site); }

}  // namespace bench
