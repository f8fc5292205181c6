// hostsim's native twin, for machines where 32-bit Windows programs cannot
// run: the natively built plugin (a shared object with the same load-time
// objects as the .asi) in the same simulated game, with the same scenario
// and the same files left behind.
//
//   hostsim_native --plugin FILE --scenario FILE --out DIR [--txd FILE]
//
// Exit codes as hostsim's: 0 completed, 2 a bad scenario or command line, 3
// the plugin could not be set up or loaded, 4 registers or stack changed
// across a hooked call.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/game_image.h"
#include "sim/host_world.h"
#include "sim/os_linux.h"
#include "sim/scenario.h"
#include "sim/scenario_run.h"
#include "sim/site_function.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* usage = "usage: hostsim_native --plugin FILE --scenario FILE --out DIR [--txd FILE]";

int refuse(int code, const std::string& reason) {
  std::fprintf(stderr, "hostsim: %s\n", reason.c_str());
  return code;
}

// The game image's mappings as the system reports them.
std::vector<std::string> image_protections() {
  std::vector<std::string> out;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    unsigned long long begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx", &begin, &end) != 2) continue;
    if (end > sim::game_image::get().running(sim::code_begin) && begin < sim::game_image::get().running(sim::image_end)) {
      out.push_back(line.substr(0, line.find(' ', line.find(' ') + 1)));
    }
  }
  return out;
}

using sim::site_functions;

// Keys through the platform seam's keyboard; Linux has no way to deny
// another program's writes, so a held log is not simulated here.
class linux_system : public sim::run_system {
 public:
  void press(int key, bool down) override { os::linux_host::set_key_down(key, down); }
  void hold_log(bool) override {}
  sim::run_checks checks;
};

}  // namespace

int main(int argc, char** argv) {
  fs::path plugin, scenario_path, out, txd_file;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return refuse(2, usage);
    if (a == "--plugin") {
      plugin = argv[++i];
    } else if (a == "--scenario") {
      scenario_path = argv[++i];
    } else if (a == "--out") {
      out = argv[++i];
    } else if (a == "--txd") {
      txd_file = argv[++i];
    } else {
      return refuse(2, "unknown option " + a);
    }
  }
  if (plugin.empty() || scenario_path.empty() || out.empty() || txd_file.empty()) return refuse(2, usage);
  const sim::scenario_result parsed = sim::read_scenario(scenario_path);
  if (!parsed.ok) return refuse(2, parsed.error);
  const sim::scenario& scene = parsed.value;
  // glibc decides which modules it unmaps before their destructors run: a
  // pin asked for during the unload keeps nothing mapped here, as it does on
  // Windows.
  if (scene.refuse_restore) {
    return refuse(2, "refuse_restore: runs under Wine only (a pin asked for during dlclose keeps nothing mapped on Linux)");
  }

  const fs::path out_dir = fs::absolute(out);
  if (!fs::exists(txd_file)) return refuse(3, "cannot read the texture dictionary " + txd_file.string());
  const sim::game_folder folder = sim::prepare_game_folder(scene, out_dir, plugin, txd_file);
  if (!folder.error.empty()) return refuse(3, folder.error);
  if (!folder.warning.empty()) std::fprintf(stderr, "hostsim: %s\n", folder.warning.c_str());
  const fs::path& game = folder.game;
  std::error_code ec;
  fs::current_path(game, ec);
  if (ec) return refuse(3, "cannot enter " + game.string() + ": " + ec.message());

  sim::host_world& world = sim::host_world::get();
  if (!world.lay_out(scene.game_version)) return refuse(3, "cannot lay out the game image at 0x400000");
  sim::apply_scene(scene, world);
  world.recording = scene.trace;
  const std::vector<std::vector<std::uint8_t>> original = site_functions();
  const std::vector<std::string> protections = image_protections();
  std::FILE* trace = std::fopen((out_dir / "trace.jsonl").c_str(), "wb");
  if (!trace) return refuse(3, "cannot write " + (out_dir / "trace.jsonl").string());

  std::vector<void*> modules;
  for (const fs::path& p : folder.plugins) {
    void* module = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      std::fclose(trace);
      return refuse(3, "cannot load " + p.string() + " (" + dlerror() + ")");
    }
    modules.push_back(module);
  }
  linux_system system;
  sim::finish_run(
      scene, world, trace, system, system.checks, original,
      [&] { sim::unload_modules(scene, modules, [](void* module) { os::linux_host::free_library(module); }); },
      [&] { return image_protections() == protections; }, out_dir, folder.textures);
  if (!world.loader_faults.empty()) return refuse(4, sim::loader_fault_message(world));
  if (sim::site_function::mismatches() != 0) return refuse(4, "the game's registers or stack were changed across a hooked call");
  return 0;
}
