// hostsim: loads the real plugin into a simulated game, as a plugin loader
// does, runs a scenario's events through the game's call sites and records
// what the plugin asked of the game.
//
//   hostsim.exe --plugin FILE --scenario FILE --out DIR [--txd FILE]
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "game_image.h"
#include "host_world.h"
#include "preview.h"
#include "scenario.h"
#include "trace_writer.h"

namespace {

namespace fs = std::filesystem;

int refuse(int code, const std::string& reason) {
  std::fprintf(stderr, "hostsim: %s\n", reason.c_str());
  return code;
}

std::size_t private_bytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters.PagefileUsage;
}

std::string exe_folder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
  return fs::path(path).parent_path().string();
}

const sim::host_address sites[3] = {host::addr::start_up_site, host::addr::drawing_site, host::addr::shutdown_site};

std::vector<std::uint8_t> site_bytes(sim::host_address site) {
  const std::uint8_t* p = sim::game_image::get().at(site);
  return std::vector<std::uint8_t>(p, p + sim::call_site_size);
}

}  // namespace

int main(int argc, char** argv) {
  std::string plugin, scenario_path, out, txd_file = exe_folder() + "/DEVIZAR.txd";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return refuse(2, "usage: hostsim --plugin FILE --scenario FILE --out DIR [--txd FILE]");
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
  if (plugin.empty() || scenario_path.empty() || out.empty()) {
    return refuse(2, "usage: hostsim --plugin FILE --scenario FILE --out DIR [--txd FILE]");
  }
  const sim::scenario_result parsed = sim::read_scenario(scenario_path);
  if (!parsed.ok) return refuse(2, parsed.error);
  const sim::scenario& scene = parsed.value;

  // The throw-away game folder, the current directory of the run.
  std::error_code ec;
  const fs::path out_dir = fs::absolute(out);
  const fs::path game = out_dir / "game";
  fs::remove_all(game, ec);
  fs::create_directories(game / "scripts", ec);
  if (!fs::copy_file(plugin, game / "scripts" / "MorvaHealthRing.asi", fs::copy_options::overwrite_existing, ec)) {
    return refuse(3, "cannot copy the plugin " + plugin + ": " + ec.message());
  }
  txd::dictionary textures;
  if (scene.txd != sim::txd_location::none) {
    const fs::path place = game / sim::txd_relative_path(scene.txd);
    fs::create_directories(place.parent_path(), ec);
    if (!fs::copy_file(txd_file, place, fs::copy_options::overwrite_existing, ec)) {
      return refuse(3, "cannot place the texture dictionary " + txd_file + ": " + ec.message());
    }
    txd::read_result r = txd::read_file(txd_file);
    if (!r.ok) return refuse(3, txd_file + ": " + r.error);
    textures = std::move(r.dict);
  }
  fs::current_path(game, ec);
  if (ec) return refuse(3, "cannot enter " + game.string() + ": " + ec.message());

  sim::host_world& world = sim::host_world::get();
  if (!world.lay_out(scene.game_version)) return refuse(3, "cannot lay out the game image at 0x400000");
  std::vector<std::uint8_t> original[3];
  for (int i = 0; i < 3; ++i) original[i] = site_bytes(sites[i]);
  sim::apply_scene(scene, world);
  world.recording = scene.trace;

  std::FILE* trace = std::fopen((out_dir / "trace.jsonl").string().c_str(), "wb");
  if (!trace) return refuse(3, "cannot write " + (out_dir / "trace.jsonl").string());

  std::vector<std::string> plugins = {"scripts\\MorvaHealthRing.asi"};
  if (scene.second_plugin) {
    fs::copy_file(game / "scripts" / "MorvaHealthRing.asi", game / "scripts" / "MorvaHealthRingCopy.asi",
                  fs::copy_options::overwrite_existing, ec);
    plugins.push_back("scripts\\MorvaHealthRingCopy.asi");
  }
  std::vector<HMODULE> modules;
  for (const std::string& name : plugins) {
    HMODULE module = LoadLibraryA(name.c_str());
    if (!module) {
      std::fclose(trace);
      return refuse(3, "cannot load " + name + " (error " + std::to_string(GetLastError()) + ")");
    }
    modules.push_back(module);
  }
  unsigned sites_changed_by_load = 0;
  for (int i = 0; i < 3; ++i) sites_changed_by_load += site_bytes(sites[i]) != original[i] ? 1 : 0;
  HANDLE held_log = INVALID_HANDLE_VALUE;

  std::vector<sim::host_call> last_drawn;
  std::int32_t last_drawn_frame = 0;
  std::uint64_t total_draws = 0;
  for (const sim::scenario_event& e : scene.events) {
    if (e.kind == sim::event_kind::draw) total_draws += e.repeat;
  }
  const std::uint64_t early_sample_at = total_draws / 10;
  std::size_t memory_early = 0;
  std::uint64_t draws = 0;
  auto flush = [&] {
    sim::write_trace(trace, world.calls);
    world.calls.clear();
  };
  for (const sim::scenario_event& e : scene.events) {
    for (std::uint32_t n = 0; n < e.repeat; ++n) {
      switch (e.kind) {
        case sim::event_kind::start_up: world.start_up(); break;
        case sim::event_kind::shutdown: world.shutdown(); break;
        case sim::event_kind::hold_log:
          if (held_log == INVALID_HANDLE_VALUE) {
            held_log = CreateFileA("scripts\\MorvaHealthRing.log", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
          }
          break;
        case sim::event_kind::release_log:
          if (held_log != INVALID_HANDLE_VALUE) CloseHandle(held_log);
          held_log = INVALID_HANDLE_VALUE;
          break;
        case sim::event_kind::draw:
          world.draw();
          ++draws;
          if (!world.accepted_fans().empty()) {
            last_drawn = world.accepted_fans();
            last_drawn_frame = world.frame;
          }
          if (draws == early_sample_at) memory_early = private_bytes();
          break;
      }
      if (world.calls.size() > 4096) flush();
    }
  }
  flush();
  const std::size_t memory_end = private_bytes();

  if (held_log != INVALID_HANDLE_VALUE) CloseHandle(held_log);
  // Unloaded in the reverse order of loading.
  for (auto it = modules.rbegin(); it != modules.rend(); ++it) FreeLibrary(*it);
  bool restored = true;
  for (int i = 0; i < 3; ++i) restored = restored && site_bytes(sites[i]) == original[i];
  std::fprintf(trace, "{\"frame\":%d,\"call\":\"unload\",\"sites_restored\":%s}\n", world.frame, restored ? "true" : "false");
  std::fclose(trace);

  const txd::image picture = sim::render_preview(scene, last_drawn, textures);
  txd::save_png((out_dir / "preview.png").string(), picture);

  unsigned rings = 0;
  for (const sim::host_call& fan : last_drawn) rings += fan.texture == "hpbg" ? 1 : 0;
  std::FILE* summary = std::fopen((out_dir / "summary.json").string().c_str(), "wb");
  if (summary) {
    std::fprintf(summary,
                 "{\"frames\":%d,\"last_drawn_frame\":%d,\"rings_in_last_drawn_frame\":%u,\"sites_changed_by_load\":%u,"
                 "\"sites_restored\":%s,\"private_bytes_early\":%zu,\"private_bytes_end\":%zu}\n",
                 world.frame, last_drawn_frame, rings, sites_changed_by_load, restored ? "true" : "false", memory_early,
                 memory_end);
    std::fclose(summary);
  }
  std::printf("hostsim: %d frames, %u rings in frame %d, call sites %s\n", world.frame, rings, last_drawn_frame,
              restored ? "restored" : "NOT restored");
  return 0;
}
