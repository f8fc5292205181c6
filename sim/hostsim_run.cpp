#include "sim/hostsim_run.h"

#include <system_error>

#include "sim/host_world.h"
#include "sim/site_function.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

int refuse(int code, const std::string& reason) {
  std::fprintf(stderr, "hostsim: %s\n", reason.c_str());
  return code;
}

}  // namespace

std::string read_options(const std::vector<fs::path>& arguments, run_options* out) {
  for (std::size_t i = 0; i < arguments.size(); i += 2) {
    const std::string option = arguments[i].string();
    if (i + 1 >= arguments.size()) return hostsim_usage;
    fs::path* target = option == "--plugin" ? &out->plugin
                       : option == "--scenario" ? &out->scenario
                       : option == "--out" ? &out->out
                       : option == "--txd" ? &out->txd : nullptr;
    if (target == nullptr) return "unknown option " + shown(arguments[i]);
    *target = arguments[i + 1];
  }
  if (out->plugin.empty() || out->scenario.empty() || out->out.empty() || out->txd.empty()) return hostsim_usage;
  return {};
}

int hostsim_main(const std::vector<fs::path>& arguments, run_platform& platform) {
  run_options options;
  if (const std::string wrong = read_options(arguments, &options); !wrong.empty()) return refuse(2, wrong);
  return run_hostsim(options, platform);
}

int run_hostsim(const run_options& options, run_platform& platform) {
  const scenario_result parsed = read_scenario(options.scenario);
  if (!parsed.ok) return refuse(2, parsed.error);
  const scenario& scene = parsed.value;
  if (const std::string why = platform.refuses(scene); !why.empty()) return refuse(2, why);

  // The throw-away game folder, the current directory of the run.
  const fs::path out_dir = fs::absolute(options.out);
  if (!fs::exists(options.txd)) return refuse(3, "cannot read the texture dictionary " + shown(options.txd));
  const game_folder folder = prepare_game_folder(scene, out_dir, options.plugin, options.txd);
  if (!folder.error.empty()) return refuse(3, folder.error);
  if (!folder.warning.empty()) std::fprintf(stderr, "hostsim: %s\n", folder.warning.c_str());
  std::error_code ec;
  fs::current_path(folder.game, ec);
  if (ec) return refuse(3, "cannot enter " + shown(folder.game) + ": " + ec.message());

  host_world& world = host_world::get();
  if (!world.lay_out(scene.game_version)) return refuse(3, "cannot lay out the game image at 0x400000");
  apply_scene(scene, world);
  world.recording = scene.trace;
  const std::vector<std::vector<std::uint8_t>> original = site_functions();
  const std::vector<std::string> protections = platform.page_protections();

  std::FILE* trace = platform.open_for_writing(out_dir / "trace.jsonl");
  if (!trace) return refuse(3, "cannot write " + shown(out_dir / "trace.jsonl"));
  if (const std::string why = platform.prepare(scene); !why.empty()) {
    std::fclose(trace);
    return refuse(3, why);
  }
  std::vector<void*> modules;
  for (const fs::path& file : folder.plugins) {
    std::string error;
    void* module = platform.load(file, folder.game, &error);
    if (!module) {
      std::fclose(trace);
      return refuse(3, error);
    }
    modules.push_back(module);
  }
  const std::string unwritten = finish_run(
      scene, world, trace, platform, platform.checks, original,
      [&] { unload_modules(scene, modules, [&](void* module) { platform.unload(module); }); },
      [&] { return platform.page_protections() == protections; }, out_dir, folder.textures);
  if (!world.loader_faults.empty()) return refuse(4, loader_fault_message(world));
  if (!unwritten.empty()) return refuse(3, unwritten);
  if (world.render_state_mismatches != 0) {
    return refuse(4, "the game's render states were left changed after " + std::to_string(world.render_state_mismatches) +
                         " drawing event(s)");
  }
  if (const std::uint32_t mismatches = site_function::mismatches(); mismatches != 0) {
    return refuse(4, "the game's registers or stack were changed across " + std::to_string(mismatches) +
                         " hooked call(s)");
  }
  return 0;
}

}  // namespace sim
