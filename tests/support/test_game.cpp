#include "tests/support/test_game.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "overlay/plugin.h"
#include "sim/os_linux.h"
#include "sim/seam_control.h"
#include "tests/support/test_sites.h"
#include "txd/dictionary.h"

namespace test {
namespace fs = std::filesystem;

const game_folder& game_dir() {
  static const game_folder folder = [] {
    char pattern[] = "/tmp/morva-game-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root) std::abort();
    game_folder f{root, std::string(root) + "/scripts/"};
    fs::create_directories(f.scripts);
    // Removed at exit; the name is kept apart from this object, which is
    // destroyed before the handler registered here runs.
    static char removed_at_exit[64];
    std::snprintf(removed_at_exit, sizeof removed_at_exit, "%s", root);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(removed_at_exit, ignored);
    });
    os::linux_host::set_module_file_name(f.scripts + "MorvaHealthRing.asi");
    if (chdir(root) != 0) std::abort();
    return f;
  }();
  return folder;
}

std::string candidate_path(txd_place place) {
  switch (place) {
    case txd_place::beside_plugin: return game_dir().scripts + "DEVIZAR.txd";
    case txd_place::plugin_models_txd: return game_dir().scripts + "models\\txd\\DEVIZAR.txd";
    case txd_place::modloader: return "modloader\\Morva Health\\models\\txd\\DEVIZAR.txd";
    case txd_place::game_models_txd: return "models\\txd\\DEVIZAR.txd";
  }
  return {};
}

std::string file_path(txd_place place) {
  switch (place) {
    case txd_place::beside_plugin: return game_dir().scripts + "DEVIZAR.txd";
    case txd_place::plugin_models_txd: return game_dir().scripts + "models/txd/DEVIZAR.txd";
    case txd_place::modloader: return game_dir().root + "/modloader/Morva Health/models/txd/DEVIZAR.txd";
    case txd_place::game_models_txd: return game_dir().root + "/models/txd/DEVIZAR.txd";
  }
  return {};
}

void write_txd(txd_place place, const std::vector<std::string>& names) { write_txd_at(file_path(place), names); }

void write_txd_at(const std::string& path, const std::vector<std::string>& names) {
  txd::dictionary dict;
  std::uint8_t shade = 10;
  for (const std::string& name : names) {
    txd::texture t;
    t.name = name;
    std::vector<std::uint8_t> rgba(2 * 2 * 4, shade);
    shade = static_cast<std::uint8_t>(shade + 40);
    t.levels = txd::mip_chain(2, 2, rgba);
    dict.textures.push_back(std::move(t));
  }
  fs::create_directories(fs::path(path).parent_path());
  if (!txd::write_file(path, dict)) std::abort();
}

void write_ring_txd(txd_place place) { write_txd(place, {"hpbg", "hpfg"}); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) { return fs::exists(path); }

std::string log_path() { return game_dir().scripts + "MorvaHealthRing.log"; }

std::string log_text() { return read_file(log_path()); }

std::vector<std::string> log_lines() { return log_lines_of(log_path()); }

std::vector<std::string> log_lines_of(const std::string& path) {
  const std::string text = read_file(path);
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find("\r\n", begin);
    if (end == std::string::npos) {
      lines.push_back(text.substr(begin) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 2;
  }
  return lines;
}

std::string hex(std::uintptr_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(value));
  return text;
}

std::uint8_t* add_ped(int slot, sim::vec3 position, bool reject_transform) {
  sim::ped_setup p;
  p.slot = slot;
  p.position = position;
  p.reject_transform = reject_transform;
  return sim::host_world::get().add_ped(p);
}

void prepare_plugin() {
  static const bool ready = [] {
    game_dir();
    ensure_image();
    static overlay::MorvaHealthRing plugin;
    return true;
  }();
  (void)ready;
}

void reset_overlay() {
  sim::host_world& world = sim::host_world::get();
  world.reset_scene();
  world.live_dictionaries.clear();
  world.dictionaries_destroyed = 0;
  world.loader_faults.clear();
  os::reset_control();
  os::linux_host::unload_modules();
  overlay::state() = overlay::plugin_state{};
  std::error_code ignored;
  for (txd_place p : {txd_place::beside_plugin, txd_place::plugin_models_txd, txd_place::modloader,
                      txd_place::game_models_txd}) {
    fs::remove(file_path(p), ignored);
  }
  fs::remove(log_path(), ignored);
}

}  // namespace test
