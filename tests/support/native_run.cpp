#include "tests/support/native_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/os_linux.h"
#include "sim/scenario.h"
#include "sim/scenario_run.h"
#include "tests/support/test_game.h"

namespace test {
namespace {

struct system : sim::run_system {
  void press(int key, bool down) override { os::linux_host::set_key_down(key, down); }
  void hold_log(bool) override {}
  void load_module(const std::string& name) override { os::linux_host::load_module(name); }
};

}  // namespace

std::vector<nlohmann::json> run_natively(const nlohmann::json& scene_json) {
  reset_overlay();
  const sim::scenario_result scene = sim::parse_scenario(scene_json.dump());
  EXPECT_TRUE(scene.ok) << scene.error;
  write_ring_txd(txd_place::beside_plugin);
  const std::string ini = game_dir().scripts + "MorvaHealthRing.ini";
  if (scene.value.ini) std::ofstream(ini, std::ios::binary) << *scene.value.ini;
  sim::host_world& world = sim::host_world::get();
  sim::apply_scene(scene.value, world);
  std::FILE* trace = std::tmpfile();
  system sys;
  sim::run_events(scene.value, world, trace, sys);
  std::rewind(trace);
  std::vector<nlohmann::json> lines;
  static char line[1 << 16];
  std::string text;
  while (std::fgets(line, sizeof line, trace)) {
    text += line;
    if (text.back() != '\n') continue;
    lines.push_back(nlohmann::json::parse(text));
    text.clear();
  }
  std::fclose(trace);
  std::remove(ini.c_str());
  return lines;
}

}  // namespace test
