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

// The walking scene: where each walker turns, and how far along it is.
struct walker {
  int slot;
  float x, y_from, y_to;
  float y;
  float step;  // per frame, signed
};
std::vector<walker> walkers;
std::vector<sim::ground_piece> walking_ground;
std::uint64_t rings_planned = 0;
std::uint64_t probes_at_start = 0;

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
  world.set_ground({});  // a flat world: no ground for the probes
  overlay::state().settings = overlay::ring_settings{};
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

void set_walking_scene() {
  prepare();
  sim::host_world& world = sim::host_world::get();
  world.recording = false;
  world.keep_fans = false;
  world.set_pool_size(140);
  overlay::state().settings = overlay::ring_settings{};
  walking_ground.clear();
  // The street: x 2 to 14, rising along y at 15 degrees.
  sim::ground_piece street;
  street.min[0] = 2.0f;
  street.max[0] = 14.0f;
  street.min[1] = -6.0f;
  street.max[1] = 6.0f;
  street.slope[1] = 0.26794919f;
  walking_ground.push_back(street);
  // The stairway: x -14 to -2, a plaza, twenty steps, a landing.
  sim::ground_piece plaza;
  plaza.min[0] = -14.0f;
  plaza.max[0] = -2.0f;
  plaza.min[1] = -6.0f;
  plaza.max[1] = -3.0f;
  walking_ground.push_back(plaza);
  for (int k = 0; k < 20; ++k) {
    sim::ground_piece step = plaza;
    step.min[1] = -3.0f + 0.3f * static_cast<float>(k);
    step.max[1] = step.min[1] + 0.3f;
    step.z = 0.2f * static_cast<float>(k + 1);
    walking_ground.push_back(step);
  }
  sim::ground_piece landing = plaza;
  landing.min[1] = 3.0f;
  landing.max[1] = 6.0f;
  landing.z = 4.0f;
  walking_ground.push_back(landing);
  world.set_ground(walking_ground);
  world.set_player(0, {0.0f, 0.0f, 3.0f});
  walkers.clear();
  constexpr float step = 1.4f / 30.0f;
  for (int i = 0; i < 30; ++i) {
    const bool on_street = i < 15;
    const float x = on_street ? 2.5f + 0.8f * static_cast<float>(i) : -13.5f + 0.8f * static_cast<float>(i - 15);
    const float from = on_street ? -4.0f : -3.0f, to = on_street ? 4.0f : 3.0f;
    const float y = from + (to - from) * static_cast<float>((i * 7) % 15) / 15.0f;
    walkers.push_back({i + 1, x, from, to, y, i % 2 == 0 ? step : -step});
    sim::ped_setup p;
    p.slot = i + 1;
    p.health = static_cast<float>((i * 37) % 99 + 1);
    world.add_ped(p);
  }
  scene_peds = 30;
  rings_planned = 0;
  probes_at_start = world.vertical_lines;
}

probe_count probes_so_far() { return {sim::host_world::get().vertical_lines - probes_at_start, rings_planned}; }

namespace {

void walk_one_frame() {
  sim::host_world& world = sim::host_world::get();
  for (walker& w : walkers) {
    w.y += w.step;
    if (w.y > w.y_to || w.y < w.y_from) {
      w.step = -w.step;
      w.y += 2.0f * w.step;
    }
    float ground = 0.0f;
    sim::ground_top(walking_ground, w.x, w.y, 100.0f, -100.0f, &ground);
    float* matrix = nullptr;
    std::memcpy(&matrix, world.ped_at(w.slot) + host::ped::matrix, sizeof matrix);
    matrix[12] = w.x;
    matrix[13] = w.y;
    matrix[14] = ground + 1.0f;
  }
}

}  // namespace

void* run_drawing_event(ring_path path) {
  sim::host_world& world = sim::host_world::get();
  if (path == ring_path::ground && world.frame == 0) {
    // One floor, everyone standing on it.
    sim::ground_piece floor;
    floor.min[0] = floor.min[1] = -20.0f;
    floor.max[0] = floor.max[1] = 20.0f;
    world.set_ground({floor});
    for (int i = 1; i <= scene_peds; ++i) {
      float* matrix = nullptr;
      std::memcpy(&matrix, world.ped_at(i) + host::ped::matrix, sizeof matrix);
      matrix[14] = 1.0f;
    }
  }
  if (path == ring_path::who && !overlay::state().settings.only_in_fight) {
    overlay::ring_settings& settings = overlay::state().settings;
    settings.show_relationship = settings.only_in_fight = settings.mark_target = true;
    settings.show_kinds = 1u << 4 | 1u << 5 | 1u << 6 | 0x3FFu << 7;
    int group = 0, police = 0;
    for (int i = 1; i <= scene_peds; ++i) {
      sim::ped_setup who = world.who(i);
      who.kind = i % 4 == 0 ? 6u : i % 4 == 1 ? 4u : 7u + static_cast<std::uint32_t>(i % 10);
      who.attacking = i % 3 == 0 ? 1000 + (i / 3) % 3 : 0;
      who.group = who.attacking == 0 && who.kind != 6 && group < 7;
      who.pursuing = who.kind == 6 && police < 10;
      group += who.group ? 1 : 0;
      police += who.pursuing ? 1 : 0;
      (i % 2 ? who.hate : who.like) = 1u;  // bit 0: the player's kind
      world.set_who(i, who);
    }
    world.set_targets(scene_peds > 0 ? 1 : -1, -1);
  }
  if (path == ring_path::walking) {
    walk_one_frame();
    void* result = world.draw();
    rings_planned += overlay::state().plans.size();
    return result;
  }
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
