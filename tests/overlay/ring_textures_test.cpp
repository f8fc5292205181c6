#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "overlay/dictionary_check.h"
#include "overlay/ring_textures.h"
#include "tests/support/damaged_dictionaries.h"
#include "tests/support/test_game.h"
#include "txd/dictionary.h"

namespace {

using test::candidate_path;
using test::log_lines;
using test::txd_place;
using lines = std::vector<std::string>;

class RingTexturesTest : public test::OverlayTest {
 protected:
  // Lines after the start line.
  lines search_lines() {
    lines all = log_lines();
    if (!all.empty()) all.erase(all.begin());
    return all;
  }
  std::string name_of(host::RwTexture* t) { return t ? std::string(t->name) : "<null>"; }
};

TEST_F(RingTexturesTest, DictionaryBesideThePluginWinsAndNoOtherPlaceIsTried) {
  for (txd_place p : {txd_place::beside_plugin, txd_place::plugin_models_txd, txd_place::modloader,
                      txd_place::game_models_txd}) {
    test::write_ring_txd(p);
  }
  world.start_up();
  EXPECT_TRUE(state.textures_loaded);
  EXPECT_EQ(world.loaded_paths(), (lines{candidate_path(txd_place::beside_plugin)}));
  EXPECT_EQ(search_lines(), (lines{"TXD loaded: " + candidate_path(txd_place::beside_plugin),
                                   "  texture in TXD: 'hpfg'", "  texture in TXD: 'hpbg'", "  hpbg -> found",
                                   "  hpfg -> found"}));
  EXPECT_EQ(name_of(state.ring_background), "hpbg");
  EXPECT_EQ(name_of(state.ring_foreground), "hpfg");
  EXPECT_EQ(world.live_dictionaries.size(), 1u);
  EXPECT_EQ(reinterpret_cast<void*>(state.ring_dictionary), world.live_dictionaries[0].get());
}

TEST_F(RingTexturesTest, NoFileAnywhereTriesAllFourInOrderAndChangesNothing) {
  world.start_up();
  EXPECT_FALSE(state.textures_loaded);
  const lines failed = {"TXD failed: " + candidate_path(txd_place::beside_plugin),
                        "TXD failed: " + candidate_path(txd_place::plugin_models_txd),
                        "TXD failed: " + candidate_path(txd_place::modloader),
                        "TXD failed: " + candidate_path(txd_place::game_models_txd)};
  EXPECT_EQ(search_lines(), failed);

  // A failed search leaves whatever the state held alone.
  auto* held = reinterpret_cast<host::RwTexDictionary*>(0x1111);
  auto* bg = reinterpret_cast<host::RwTexture*>(0x2222);
  auto* fg = reinterpret_cast<host::RwTexture*>(0x3333);
  state.ring_dictionary = held;
  state.ring_background = bg;
  state.ring_foreground = fg;
  EXPECT_FALSE(overlay::load_ring_textures());
  EXPECT_EQ(state.ring_dictionary, held);
  EXPECT_EQ(state.ring_background, bg);
  EXPECT_EQ(state.ring_foreground, fg);
  EXPECT_EQ(world.calls_of(sim::call_kind::tex_dictionary_destroy).size(), 0u);
  state = overlay::plugin_state{};
}

TEST_F(RingTexturesTest, PartialDictionaryIsListedReportedAndDestroyedBeforeTheNextIsKept) {
  test::write_txd(txd_place::beside_plugin, {"hpbg"});
  test::write_ring_txd(txd_place::plugin_models_txd);
  world.start_up();
  EXPECT_TRUE(state.textures_loaded);
  EXPECT_EQ(search_lines(), (lines{"TXD loaded: " + candidate_path(txd_place::beside_plugin),
                                   "  texture in TXD: 'hpbg'", "  hpbg -> found", "  hpfg -> NOT FOUND",
                                   "TXD loaded: " + candidate_path(txd_place::plugin_models_txd),
                                   "  texture in TXD: 'hpfg'", "  texture in TXD: 'hpbg'", "  hpbg -> found",
                                   "  hpfg -> found"}));
  EXPECT_EQ(world.dictionaries_destroyed, 1u);
  ASSERT_EQ(world.live_dictionaries.size(), 1u);
  EXPECT_EQ(world.live_dictionaries[0]->path, candidate_path(txd_place::plugin_models_txd));
}

TEST_F(RingTexturesTest, EmptyDictionaryIsReportedNotFoundTwiceAndDestroyed) {
  test::write_txd(txd_place::beside_plugin, {});
  world.start_up();
  EXPECT_FALSE(state.textures_loaded);
  const lines all = search_lines();
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(lines(all.begin(), all.begin() + 3),
            (lines{"TXD loaded: " + candidate_path(txd_place::beside_plugin), "  hpbg -> NOT FOUND",
                   "  hpfg -> NOT FOUND"}));
  EXPECT_EQ(all.size(), 6u);  // the three other candidates failed
  EXPECT_EQ(world.dictionaries_destroyed, 1u);
  EXPECT_TRUE(world.live_dictionaries.empty());
  EXPECT_EQ(state.ring_dictionary, nullptr);
}

TEST_F(RingTexturesTest, OnlyTheGamesOwnModelsFolderResolves) {
  test::write_ring_txd(txd_place::game_models_txd);
  world.start_up();
  EXPECT_TRUE(state.textures_loaded);
  const lines all = search_lines();
  ASSERT_EQ(all.size(), 8u);
  EXPECT_EQ(lines(all.begin(), all.begin() + 4),
            (lines{"TXD failed: " + candidate_path(txd_place::beside_plugin),
                   "TXD failed: " + candidate_path(txd_place::plugin_models_txd),
                   "TXD failed: " + candidate_path(txd_place::modloader),
                   "TXD loaded: models\\txd\\DEVIZAR.txd"}));
}

TEST_F(RingTexturesTest, ModloaderFolderIsTheThirdPlace) {
  test::write_ring_txd(txd_place::modloader);
  test::write_ring_txd(txd_place::game_models_txd);
  world.start_up();
  // The two places before it hold nothing: the loader is not asked there.
  EXPECT_EQ(world.loaded_paths(), (lines{"modloader\\Morva Health\\models\\txd\\DEVIZAR.txd"}));
  EXPECT_EQ(search_lines().at(2), "TXD loaded: modloader\\Morva Health\\models\\txd\\DEVIZAR.txd");
}

// The game lists a dictionary from its last texture to its first, and of two
// textures of one name finds the later one in the file.
TEST_F(RingTexturesTest, TexturesAreListedAsTheGameListsThemLastFirst) {
  test::write_txd(txd_place::beside_plugin, {"hpfg", "shadow", "hpbg", "hpfg"});
  world.start_up();
  const lines all = search_lines();
  ASSERT_GE(all.size(), 5u);
  EXPECT_EQ(lines(all.begin() + 1, all.begin() + 5),
            (lines{"  texture in TXD: 'hpfg'", "  texture in TXD: 'hpbg'", "  texture in TXD: 'shadow'",
                   "  texture in TXD: 'hpfg'"}));
  ASSERT_TRUE(state.textures_loaded);
  const auto* found = reinterpret_cast<const sim::sim_texture*>(state.ring_foreground);
  EXPECT_EQ(found->index, 3u);
}

TEST_F(RingTexturesTest, NameFillingItsWholeFieldIsLoggedCutAtThirtyTwoCharacters) {
  const std::string full(32, 'n');
  test::write_txd(txd_place::beside_plugin, {"hpbg", "hpfg", full});
  world.start_up();
  const lines all = search_lines();
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[1], "  texture in TXD: '" + full + "'");
}

// The game's loader never says no: a file it cannot open comes back as an
// empty dictionary, and one whose dictionary chunk it cannot read is the
// fault it would be in the game. The plugin hands it neither: a dictionary
// cut in the middle beside it is named with the reason, and the whole one in
// the game's models folder draws.
TEST_F(RingTexturesTest, CutDictionaryNeverReachesTheLoaderAndTheWholeOneDraws) {
  host::RwTexDictionary* missing = sim::host_world::load_txd("models\\txd\\nothing.txd");
  ASSERT_NE(missing, nullptr);
  EXPECT_TRUE(reinterpret_cast<sim::sim_dictionary*>(missing)->textures.empty());
  EXPECT_EQ(world.calls_of(sim::call_kind::load_txd).at(0).ok, false);

  test::write_ring_txd(txd_place::beside_plugin);
  const std::string whole = test::read_file(test::file_path(txd_place::beside_plugin));
  std::ofstream(test::file_path(txd_place::beside_plugin), std::ios::binary) << whole.substr(0, whole.size() / 2);
  sim::host_world::load_txd(test::candidate_path(txd_place::beside_plugin).c_str());
  EXPECT_EQ(world.loader_faults, (lines{test::candidate_path(txd_place::beside_plugin)}));
  world.loader_faults.clear();
  world.live_dictionaries.clear();
  world.calls.clear();

  test::write_ring_txd(txd_place::game_models_txd);
  test::add_ped(3, {2.0f, 0.0f, 0.0f});
  world.start_up();
  world.draw();
  EXPECT_EQ(world.loaded_paths(), (lines{"models\\txd\\DEVIZAR.txd"}));
  EXPECT_TRUE(world.loader_faults.empty());
  EXPECT_EQ(world.accepted_fans().size(), 2u);
  const lines all = search_lines();
  ASSERT_GE(all.size(), 5u);
  EXPECT_EQ(lines(all.begin(), all.begin() + 5),
            (lines{"TXD failed: " + candidate_path(txd_place::beside_plugin),
                   "  not a texture dictionary the game can read (cut at byte " + std::to_string(whole.size() / 2) + ")",
                   "TXD failed: " + candidate_path(txd_place::plugin_models_txd),
                   "TXD failed: " + candidate_path(txd_place::modloader), "TXD loaded: models\\txd\\DEVIZAR.txd"}));
}

// Our own dictionary damaged four ways that the game's reader fails on: each
// is named with its reason and never handed to the loader. A refused file is
// not read again while its size and time of last write stay; a file over
// 64 MiB is refused by its size.
TEST_F(RingTexturesTest, DamagedDictionariesAreRefusedWithTheirReasonAndReadOnceWhileUnchanged) {
  test::write_ring_txd(txd_place::beside_plugin);
  const std::string path = test::file_path(txd_place::beside_plugin);
  const std::string whole = test::read_file(path);
  const std::vector<test::damaged_dictionary> damaged = test::damaged_copies({whole.begin(), whole.end()});
  const lines reasons = {"texture 1: sides 0 x 0, not 1 to 4096",
                         "texture 1: level 0 announces 4112 bytes where its surface holds 16",
                         "texture 1: Direct3D format 0x0, which the game cannot create",
                         "texture 1: its struct ends inside its 88-byte fixed part"};
  const auto write = [&](const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  };
  const auto first_two = [&] {
    const lines all = search_lines();
    return all.size() < 2 ? all : lines(all.begin(), all.begin() + 2);
  };
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(damaged[i].what);
    write(damaged[i].bytes);
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() -
                                               std::chrono::hours(static_cast<int>(i) + 1));
    world.start_up();
    EXPECT_EQ(first_two(), (lines{"TXD failed: " + candidate_path(txd_place::beside_plugin),
                                  "  not a texture dictionary the game can read (" + reasons[i] + ")"}));
  }
  EXPECT_TRUE(world.calls_of(sim::call_kind::load_txd).empty());

  // Other damage of the same size with the same time: the earlier reason,
  // from memory. A new time of last write: read again.
  const auto written = std::filesystem::last_write_time(path);
  write(damaged[0].bytes);
  std::filesystem::last_write_time(path, written);
  world.start_up();
  EXPECT_EQ(first_two().at(1), "  not a texture dictionary the game can read (" + reasons[3] + ")");
  std::filesystem::last_write_time(path, written + std::chrono::seconds(5));
  world.start_up();
  EXPECT_EQ(first_two().at(1), "  not a texture dictionary the game can read (" + reasons[0] + ")");

  std::filesystem::resize_file(path, overlay::max_dictionary_bytes + 1);
  world.start_up();
  EXPECT_EQ(first_two().at(1),
            "  not a texture dictionary the game can read (67108865 bytes, more than the 64 MiB a dictionary may have)");
  EXPECT_TRUE(world.loader_faults.empty());
}

// The game finds textures by name in any letter case.
TEST_F(RingTexturesTest, TexturesNamedInCapitalsAreFoundAndDrawn) {
  test::write_txd(txd_place::beside_plugin, {"HPBG", "HPFG"});
  test::add_ped(3, {2.0f, 0.0f, 0.0f});
  world.start_up();
  world.draw();
  const lines all = search_lines();
  ASSERT_GE(all.size(), 5u);
  EXPECT_EQ(lines(all.begin() + 3, all.begin() + 5), (lines{"  hpbg -> found", "  hpfg -> found"}));
  ASSERT_EQ(world.accepted_fans().size(), 2u);
  EXPECT_EQ(world.accepted_fans()[0].texture, "HPBG");
}


}  // namespace
