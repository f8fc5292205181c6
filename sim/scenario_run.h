// Running a scenario's events in the simulated game, and what a run leaves
// behind (the trace, preview.png, summary.json), the same for hostsim.exe
// under Wine and for the native runner.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host_world.h"
#include "scenario.h"

namespace sim {

// What an event needs from the system the run is on.
class run_system {
 public:
  virtual ~run_system() = default;
  // A key of key_presses going down before a drawing event, up after it.
  virtual void press(int key, bool down) = 0;
  // Another program holding the plugin's log open with writing denied.
  virtual void hold_log(bool hold) = 0;
  // Called a tenth of the way through the drawing events, and at the end.
  virtual void sample_memory(bool early) { (void)early; }
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
// What the run prints when it ends.
std::string run_headline(const host_world& world, const run_record& record, const run_checks& checks);
unsigned rings_in(const std::vector<host_call>& fans);

}  // namespace sim
