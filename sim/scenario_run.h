// Running a scenario's events in the simulated game, and what a run leaves
// behind (the trace, preview.png, summary.json), the same for hostsim.exe
// under Wine and for the native runner.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sim/host_world.h"
#include "txd/dictionary.h"
#include "sim/scenario.h"

namespace sim {

// The throw-away game folder OUT/game of a run: the plugin (and its second
// copy) where the scenario puts them, the dictionary and the settings file.
struct game_folder {
  std::filesystem::path game;
  std::vector<std::filesystem::path> plugins;  // in the order they are loaded
  txd::dictionary textures;                    // empty when the game could not read it
  std::string error;                           // set when the folder could not be made
  std::string warning;                         // a dictionary the game will not read
};
game_folder prepare_game_folder(const scenario& scene, const std::filesystem::path& out_dir,
                                const std::filesystem::path& plugin, const std::filesystem::path& txd_file);

// The bytes of the three game functions that hold the hooked call sites.
std::vector<std::vector<std::uint8_t>> site_functions();

// A path in UTF-8, for messages.
std::string shown(const std::filesystem::path& p);

// What an event needs from the system the run is on.
class run_system {
 public:
  virtual ~run_system() = default;
  // A key of key_presses going down before a drawing event, up after it.
  virtual void press(int key, bool down) = 0;
  // Another program holding the plugin's log open with writing denied.
  virtual void hold_log(bool hold) = 0;
  // A module of that file name loaded into the process, as another program's
  // DLL would be (a multiplayer client).
  virtual void load_module(const std::string& name) = 0;
  // Called a tenth of the way through the drawing events, and at the end.
  virtual void sample_memory(bool early) { (void)early; }
  // From now on the plugins' protection changes that touch the call
  // instruction at site (its running address) are refused.
  // Only hostsim.exe can (its twin refuses such a scenario).
  virtual void refuse_protection_of(std::uintptr_t site) { (void)site; }
};

struct run_record {
  std::vector<host_call> last_drawn;  // the accepted fans of the last frame that drew
  std::int32_t last_drawn_frame = 0;
  unsigned events[3] = {};  // start-up, drawing, shutdown
};

// Runs every event, writing the calls into trace as it goes.
run_record run_events(const scenario& scene, host_world& world, std::FILE* trace, run_system& system);

struct run_checks {
  unsigned sites_changed_by_load = 0;
  bool sites_restored = false;
  bool protections_restored = false;
  std::size_t private_bytes_early = 0;
  std::size_t private_bytes_end = 0;
};

// The trace's last line, after the unload.
void write_unload_line(std::FILE* trace, const host_world& world, const run_checks& checks);
std::string summary_json(const host_world& world, const run_record& record, const run_checks& checks);
// Writes OUT/preview.png and OUT/summary.json; empty, or what could not be written.
[[nodiscard]] std::string write_run_files(const std::filesystem::path& out_dir, const scenario& scene, const host_world& world,
                     const run_record& record, const run_checks& checks, const txd::dictionary& textures);

// The rest of a run once its modules are loaded: the events, unload_all, and
// whether the sites (against original) and the pages (pages_as_before) were
// given back; then the trace's last line, closing it, the run's files and
// the headline on standard output. The checks land in checks. Empty, or a
// file of the run that could not be written.
[[nodiscard]] std::string finish_run(const scenario& scene, host_world& world, std::FILE* trace, run_system& system, run_checks& checks,
                const std::vector<std::vector<std::uint8_t>>& original, const std::function<void()>& unload_all,
                const std::function<bool()>& pages_as_before, const std::filesystem::path& out_dir,
                const txd::dictionary& textures);

// Modules unloaded in the reverse order of loading, or, for a second copy
// unloaded last, in the order of loading.
template <class Module, class Unload>
void unload_modules(const scenario& scene, const std::vector<Module>& modules, Unload unload) {
  if (scene.second_plugin_unloaded_last) {
    for (Module m : modules) unload(m);
  } else {
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) unload(*it);
  }
}

// The game's fault when its dictionary loader was handed a file it cannot read.
std::string loader_fault_message(const host_world& world);

// What the run prints when it ends.
std::string run_headline(const host_world& world, const run_record& record, const run_checks& checks);
unsigned rings_in(const std::vector<host_call>& fans);

}  // namespace sim
