#include "overlay/plugin.h"

#include "hooking/events/event_hub.h"
#include "hooking/host_version.h"
#include "hooking/plugin_folder.h"
#include "host/host_services.h"
#include "overlay/diagnostic_log.h"
#include "overlay/draw_pass.h"
#include "overlay/hand_over.h"
#include "overlay/plugin_copies.h"
#include "overlay/plugin_state.h"
#include "overlay/ring_settings.h"
#include "overlay/ring_textures.h"
#include "platform/os.h"

namespace overlay {
namespace {

void release_ring_textures() {
  plugin_state& s = state();
  if (s.ring_dictionary) host::RwTexDictionaryDestroy(s.ring_dictionary);
  s.ring_dictionary = nullptr;
  s.ring_foreground = nullptr;
  s.ring_background = nullptr;
  s.ring_armour = nullptr;
  s.textures_loaded = false;
}

// What a site that was not hooked costs the player.
struct site_report {
  const char* name;
  std::uint32_t address;
  const char* loss;
};

const char* reason(patch::patch_outcome outcome) {
  switch (outcome) {
    case patch::patch_outcome::left_alone_jump: return "left alone: another module redirected it with a jump";
    case patch::patch_outcome::left_alone_no_call: return "left alone: it holds no call instruction";
    case patch::patch_outcome::left_alone_no_destination: return "left alone: its call leads nowhere that can be read";
    case patch::patch_outcome::left_alone_own_entry: return "left alone: it already calls this plugin";
    case patch::patch_outcome::taken_over: return "left alone: another module took it over";
    case patch::patch_outcome::protection_failed: return "not hooked: its code could not be made writable";
    case patch::patch_outcome::not_verified: return "not hooked: the patch did not read back as written and was undone";
    case patch::patch_outcome::not_attempted:
    case patch::patch_outcome::hooked: break;
  }
  return nullptr;
}

void log_site(const site_report& site, patch::patch_outcome outcome) {
  if (const char* why = reason(outcome)) log_line("%s site 0x%X %s (%s)", site.name, site.address, why, site.loss);
}

constexpr site_report start_up_site{"start-up", host::addr::start_up_site, "the log and the textures start at the first frame"};
constexpr site_report drawing_site{"drawing", host::addr::drawing_site, "rings cannot be drawn"};
constexpr site_report shutdown_site{"shutdown", host::addr::shutdown_site, "the textures are not released at shutdown"};

void log_unhooked_sites() {
  if (!hooking::served_version(hooking::host_version())) return;
  log_site(start_up_site, events::start_up_event().site_outcome());
  log_site(drawing_site, events::drawing_event().site_outcome());
  log_site(shutdown_site, events::shutdown_event().site_outcome());
}

// The log's first lines, by whichever handler runs first: the start line, the
// settings, the sites that are not hooked and the copies that stood down.
void begin_log() {
  start_log();
  state().hand_over = pending_hand_over{};
  // The player's settings, each time the log starts: never under the loader
  // lock, and nothing is read from the file afterwards.
  take_settings(hooking::plugin_file_path(settings_file_name));
  log_unhooked_sites();
  if (const unsigned open = hooking::probe_pages_left_open()) {
    log_line("the game's code could not be given its protection back after %u reads of its build id: those pages stay writable",
             open);
  }
  if (!drawing_claim_recorded()) {
    log_line("this copy could not record itself in the process's environment: a copy loaded after it would draw too");
  }
  for (const std::string& path : copies_standing_down()) log_line("another copy at %s was loaded and does nothing", path.c_str());
}

// A site given back at unload, when that did not go as it should.
void log_release(const site_report& site, const patch::release_report& report) {
  if (report.restore == patch::restore_outcome::protection_failed) {
    log_line("%s site 0x%X could not be given back at unload: its code could not be made writable", site.name,
             site.address);
  }
  if (report.pin_needed && report.pinned) {
    log_line("%s site 0x%X may still lead into this copy: it stays loaded until the game exits", site.name, site.address);
  } else if (report.pin_needed) {
    log_line("%s site 0x%X may still lead into this copy, which could not be kept loaded: the game may fault",
             site.name, site.address);
  }
}

void register_handlers() {
  events::start_up_hub& start_up = events::start_up_event();
  start_up.add_handler(start_up.after, &on_start_up);
  events::drawing_hub& drawing = events::drawing_event();
  drawing.add_handler(drawing.after, &on_draw);
  events::shutdown_hub& shutdown = events::shutdown_event();
  shutdown.add_handler(shutdown.before, &on_shutdown);
  if (state().log_started) log_unhooked_sites();
}

}  // namespace

MorvaHealthRing::MorvaHealthRing() {
  const std::uint32_t build = hooking::host_version();
  if (!hooking::served_version(build)) {
    log_unsupported_build(build);
    register_handlers();
    return;
  }
  set_take_over(&register_handlers);
  if (claim_drawing_copy()) register_handlers();
}

void take_settings(const std::wstring& path) {
  plugin_state& s = state();
  const settings_result settings = read_settings(path);
  for (const std::string& line : settings.lines) log_line("%s", line.c_str());
  s.settings = settings.values;
  s.settings_path = path;
  // A dictionary held already (one handed over) serves these settings' arcs.
  if (s.ring_dictionary) s.ring_armour = armour_texture(s.ring_dictionary, s.ring_foreground);
  s.rings_hidden = !settings.values.enabled;
  s.toggle_key_down = false;
  s.damage.clear();
  s.ground.clear();
}

void on_unload() {
  // Unloaded by FreeLibrary, the game and its engine go on: the dictionary
  // goes back to it, unless it was handed to another copy. At the process's
  // end the engine is gone already. The engine is not made to be called from
  // two threads: from another thread the dictionary is left to the game.
  plugin_state& s = state();
  if (!os::unloading_by_free_library() || s.ring_dictionary == nullptr) return;
  if (os::current_thread_id() != s.game_thread) {
    log_line("dictionary left to the game: FreeLibrary came from another thread");
    return;
  }
  release_ring_textures();
}

void log_site_releases() {
  log_release(shutdown_site, events::shutdown_hub::site_release());
  log_release(drawing_site, events::drawing_hub::site_release());
  log_release(start_up_site, events::start_up_hub::site_release());
}

// The game runs its events on one thread; the first event tells which.
void note_game_thread() {
  plugin_state& s = state();
  if (s.game_thread == 0) s.game_thread = os::current_thread_id();
}

void on_start_up() {
  note_game_thread();
  begin_log();
  // A dictionary still held from an earlier start-up would otherwise be lost
  // for the rest of the process.
  if (state().ring_dictionary) release_ring_textures();
  state().textures_loaded = load_ring_textures();
}

void on_draw() {
  note_game_thread();
  plugin_state& s = state();
  if (!s.log_started) begin_log();
  finish_hand_over();
  draw_pass(s);
}

void on_shutdown() {
  note_game_thread();
  if (!state().log_started) begin_log();
  release_ring_textures();
}

}  // namespace overlay
