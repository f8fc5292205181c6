// One run of hostsim, the same under Wine (hostsim.exe) and natively
// (hostsim_native): the command line, the game folder, the image, the
// plugins loaded and unloaded, the events, and the exit code.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/scenario_run.h"

namespace sim {

constexpr const char* hostsim_usage = "usage: hostsim --plugin FILE --scenario FILE --out DIR --txd FILE";

struct run_options {
  std::filesystem::path plugin;
  std::filesystem::path scenario;
  std::filesystem::path out;
  std::filesystem::path txd;
};

// The options from the arguments after the program's name; empty, or what
// is wrong with them.
std::string read_options(const std::vector<std::filesystem::path>& arguments, run_options* out);

// What a run needs from the system beyond its events.
class run_platform : public run_system {
 public:
  // Why this system cannot run the scenario, or empty.
  virtual std::string refuses(const scenario& scene) {
    (void)scene;
    return {};
  }
  // Just before the plugins load; why the run cannot go on, or empty.
  virtual std::string prepare(const scenario& scene) {
    (void)scene;
    return {};
  }
  virtual std::FILE* open_for_writing(const std::filesystem::path& p) { return std::fopen(p.string().c_str(), "wb"); }
  // A plugin file as a loader loads it; null, with the reason, when it cannot.
  virtual void* load(const std::filesystem::path& file, const std::filesystem::path& game, std::string* error) = 0;
  virtual void unload(void* module) = 0;
  // The protection of each page of the game image and the other module.
  virtual std::vector<std::string> page_protections() = 0;
  run_checks checks;
};

// The whole run; says on standard error why it failed. Exit codes: 0
// completed, 2 a bad scenario or command line, 3 the plugin could not be
// set up or loaded, 4 the game faulted or its registers or stack were
// changed across a hooked call.
int run_hostsim(const run_options& options, run_platform& platform);
// The command line's arguments after the program's name, then the run.
int hostsim_main(const std::vector<std::filesystem::path>& arguments, run_platform& platform);

}  // namespace sim
