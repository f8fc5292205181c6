// A game folder, the simulated game laid out as build 1001 and the plugin
// registered once per test process; each test starts from an empty scene.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/host_world.h"
#include "overlay/plugin_state.h"

namespace test {

struct game_folder {
  std::string root;     // the game's folder, the current directory
  std::string scripts;  // the plugin's folder, with its separator
};

// Created on first use; the plugin file is scripts/MorvaHealthRing.asi.
const game_folder& game_dir();

enum class txd_place { beside_plugin, plugin_models_txd, modloader, game_models_txd };

// The candidate path as the plugin hands it to the game, and the file it names.
std::string candidate_path(txd_place place);
std::string file_path(txd_place place);

// A dictionary of 2 x 2 textures of these names.
void write_txd(txd_place place, const std::vector<std::string>& names);
void write_ring_txd(txd_place place);
void write_txd_at(const std::string& path, const std::vector<std::string>& names);

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
std::string log_path();
std::string log_text();
// The log split at its CR LF line ends.
std::vector<std::string> log_lines();
std::vector<std::string> log_lines_of(const std::string& path);

// An address as the plugin writes it in its claim: lower-case hex, no prefix.
std::string hex(std::uintptr_t value);

// A healthy, visible pedestrian on foot at position, in slot.
std::uint8_t* add_ped(int slot, sim::vec3 position, bool reject_transform = false);

// Lays out the game, the folder and the plugin object, once per process.
void prepare_plugin();
// An empty scene, a fresh plugin state, no files, nothing recorded.
void reset_overlay();

class OverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prepare_plugin();
    reset_overlay();
  }
  sim::host_world& world = sim::host_world::get();
  overlay::plugin_state& state = overlay::state();
};

}  // namespace test
