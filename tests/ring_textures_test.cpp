#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "overlay/ring_textures.h"
#include "support/test_game.h"

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
                                   "  texture in TXD: 'hpbg'", "  texture in TXD: 'hpfg'", "  hpbg -> found",
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
                                   "  texture in TXD: 'hpbg'", "  texture in TXD: 'hpfg'", "  hpbg -> found",
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
  EXPECT_EQ(world.loaded_paths().back(), "modloader\\Morva Health\\models\\txd\\DEVIZAR.txd");
  EXPECT_EQ(world.loaded_paths().size(), 3u);
}

TEST_F(RingTexturesTest, TexturesAreListedInTheDictionarysOrder) {
  test::write_txd(txd_place::beside_plugin, {"hpfg", "shadow", "hpbg"});
  world.start_up();
  const lines all = search_lines();
  ASSERT_GE(all.size(), 4u);
  EXPECT_EQ(lines(all.begin() + 1, all.begin() + 4),
            (lines{"  texture in TXD: 'hpfg'", "  texture in TXD: 'shadow'", "  texture in TXD: 'hpbg'"}));
  EXPECT_TRUE(state.textures_loaded);
}

TEST_F(RingTexturesTest, NameFillingItsWholeFieldIsLoggedCutAtThirtyTwoCharacters) {
  const std::string full(32, 'n');
  test::write_txd(txd_place::beside_plugin, {full, "hpbg", "hpfg"});
  world.start_up();
  const lines all = search_lines();
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[1], "  texture in TXD: '" + full + "'");
}

}  // namespace
