// A scene and the events to run in it, read from a JSON file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "overlay/product_files.h"
#include "sim/foreign_form.h"
#include "hooking/host_version.h"
#include "sim/scene.h"

namespace sim {

using hooking::host_address;
class host_world;

enum class txd_location { beside_plugin, plugin_models_txd, modloader, game_models_txd, none };

struct scenario_player {
  int slot = 0;
  vec3 position;
  bool use_matrix = true;
  int lock_target = -1;  // the slot it locks on to, or -1
  int aim_target = -1;   // the slot it aims at freely, or -1
};

// hold_log and release_log stand for another program opening the plugin's
// log file with writing denied to others, and closing it again.
enum class event_kind { start_up, draw, shutdown, hold_log, release_log };

struct scenario_event {
  event_kind kind;
  std::uint32_t repeat = 1;
};

// Another module's patch at one of the three sites, laid before the plugin loads.
struct foreign_patch_setup {
  host_address site;
  foreign_form form;
};

// A key that goes down before a drawing event (counted from 1) and up after
// it, or after the last of several.
struct key_press {
  std::int32_t frame;
  int key;  // virtual-key code
  std::int32_t frames = 1;
};

// Before a drawing event (counted from 1): a pedestrian's health or armour
// set, as a hit does, or its slot given to a new pedestrian.
struct ped_change {
  std::int32_t frame;
  int slot;
  std::optional<float> health;
  std::optional<float> armour;
  bool respawn = false;
};

// Before a drawing event: who a pedestrian is and how it stands to the
// player (the keys given, the rest as they were), or the player's targets.
struct who_change {
  std::int32_t frame = 0;
  int slot = -1;  // -1: the player's targets
  std::optional<std::uint32_t> kind;
  std::optional<std::array<std::uint32_t, 4>> acquaintance;  // respect, like, dislike, hate
  std::optional<std::int32_t> attacking;
  std::optional<int> attacking_slot;
  std::optional<bool> group, pursuing;
  std::optional<int> lock_target, aim_target;  // -1 for none
};

// A module of that name loaded into the process before a drawing event.
struct module_load {
  std::int32_t frame = 0;
  std::string name;
};

// The game's millisecond clock: start_ms at the first drawing event, then
// ms_per_frame more at each, except into a frame of a paused range.
struct game_clock {
  std::uint32_t start_ms = 0;
  std::uint32_t ms_per_frame = 33;
  std::vector<std::pair<std::int32_t, std::int32_t>> paused;  // first and last frame
  // The clock at a drawing event; it wraps as the game's does.
  std::uint32_t at(std::int32_t frame) const;
};

// An opaque box of the world that the view draws (a wall, a building).
struct wall {
  vec3 min;
  vec3 max;
};

// The game's HUD state changed before a drawing event; what it leaves out
// stays as it was.
constexpr const char* hud_fields[7] = {"widescreen", "display_hud", "menu_hud", "replay", "photo", "cinematic", "cutscene"};
struct hud_change {
  std::int32_t frame = 0;
  std::optional<bool> fields[7];  // in the order of hud_fields
};

struct scenario {
  std::uint32_t game_version = 1001;
  std::int32_t area = 0;
  float camera_forward[2] = {0.0f, 1.0f};
  std::optional<scenario_player> player = scenario_player{};
  txd_location txd = txd_location::beside_plugin;
  int pool_size = 140;
  std::vector<ped_setup> peds;
  std::vector<scenario_event> events = {{event_kind::start_up, 1}, {event_kind::draw, 600}, {event_kind::shutdown, 1}};
  bool trace = true;  // false: trace.jsonl holds only the unload line
  bool second_plugin = false;  // a copy of the plugin under another name, loaded after it
  bool second_plugin_elsewhere = false;      // the copy in plugins, not beside the first in scripts
  bool second_plugin_unloaded_last = false;  // unloaded after the first, not before
  std::string plugin_name = overlay::plugin_file_name;  // the plugin file, inside scripts
  std::vector<foreign_patch_setup> foreign_patches;
  std::optional<std::string> ini;  // MorvaHealthRing.ini beside the plugin; none when absent
  std::vector<key_press> key_presses;
  // For the view only (the plugin reads camera_forward alone): where the
  // camera stands and looks, the world's walls, and whether hostsim renders it.
  std::optional<vec3> camera_position;
  std::optional<vec3> camera_target;
  std::vector<wall> walls;
  std::vector<ground_piece> ground;  // what the game's collision queries meet
  bool view = false;
  // The site whose code cannot be opened when the plugins are unloaded (a
  // page another module locked), and the drawing events run after that.
  std::optional<host_address> refuse_restore;
  std::uint32_t draws_after_unload = 0;
  std::vector<ped_change> changes;  // health_changes and respawn, in frame order
  game_clock clock;
  std::vector<hud_change> hud;  // in list order
  std::vector<who_change> ped_changes;  // in list order
  std::vector<module_load> modules;
};

// "start_up", "drawing", "shutdown".
const char* site_name(host_address site);

// With the trace on, each drawing event writes its calls: beyond this many the
// file would fill a disk.
constexpr std::uint64_t max_traced_draws = 20000;

struct scenario_result {
  bool ok = false;
  scenario value;
  std::string error;  // "field: problem"
};

scenario_result parse_scenario(const std::string& json_text);
scenario_result read_scenario(const std::filesystem::path& path);

// Puts the scene into the world (pool, player, pedestrians, camera, area).
void apply_scene(const scenario& s, host_world& world);

// Where the dictionary goes, relative to the game folder; empty for none.
std::string txd_relative_path(txd_location where);

}  // namespace sim
