// hostsim.exe itself: what it refuses, and the game's faults it reports.
#include <gtest/gtest.h>

#include "tests/e2e/wine_run.h"
#include "tests/support/damaged_dictionaries.h"
#include "txd/dictionary.h"

namespace {

using namespace e2e;

class WineHostsimTest : public WineTest {};

TEST_F(WineHostsimTest, WriteIntoTheGamesCodeWithoutOpeningItFaults) {
  const run r = hostsim("rogue-plugin", json::object(), ROGUE_PLUGIN);
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_NE(r.error.find("the game faulted: access violation writing 0x0053E293"), std::string::npos) << r.error;
}

TEST_F(WineHostsimTest, BadScenarioIsRefusedNamingTheField) {
  const run r = hostsim("bad-scenario", {{"peds", {{{"slot", 3}, {"position", {1, 2}}}}}});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.error.find("peds[0].position: expected a list of 3 numbers"), std::string::npos) << r.error;
  const run u = hostsim("unknown-key", {{"colour", "red"}});
  EXPECT_EQ(u.exit_code, 2);
  EXPECT_NE(u.error.find("colour: unknown key"), std::string::npos) << u.error;
}

TEST_F(WineHostsimTest, DictionaryTheGameCannotReadReachesThePluginAsNoDictionary) {
  const fs::path broken = runs_root() / "broken.txd";
  std::ofstream(broken) << "not a texture dictionary";
  const run r = hostsim("broken-txd", {{"events", {"start_up"}}}, PLUGIN_ASI, broken.string());
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_EQ(r.log_lines(), (lines{"MorvaHealthRing started", "TXD failed: " + candidate(r, 1),
                                  "  not a texture dictionary the game can read (it holds no texture dictionary chunk)",
                                  "TXD failed: " + candidate(r, 2), "TXD failed: " + candidate(r, 3),
                                  "TXD failed: " + candidate(r, 4)}));
  EXPECT_TRUE(r.calls("host_load_txd").empty());
}

// Our own dictionary damaged four ways the game's reader fails on: the run
// goes on, the plugin names the file with its reason at start-up and at
// each retry, and the game's loader never sees it. Textures named in capitals are
// found as the game finds them, and counted as rings.
TEST_F(WineHostsimTest, DamagedDictionariesNeverReachTheLoaderAndCapitalNamesDraw) {
  const std::string whole = read(RING_TXD);
  const std::vector<test::damaged_dictionary> damaged = test::damaged_copies({whole.begin(), whole.end()});
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(damaged[i].what);
    const fs::path file = runs_root() / ("damaged-" + std::to_string(i) + ".txd");
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(damaged[i].bytes.data()),
                                                static_cast<std::streamsize>(damaged[i].bytes.size()));
    const run r = hostsim("damaged-" + std::to_string(i), {{"events", {"start_up", "draw*600"}}}, PLUGIN_ASI,
                          file.string());
    ASSERT_EQ(r.exit_code, 0) << r.error;
    const lines log = r.log_lines();
    // At start-up and at the retries of frames 1 and 600.
    EXPECT_EQ(std::count(log.begin(), log.end(), "TXD failed: " + candidate(r, 1)), 3);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) {
                              return l.rfind("  not a texture dictionary the game can read (texture 1: ", 0) == 0;
                            }),
              3);
    EXPECT_TRUE(r.calls("host_load_txd").empty());
  }
  txd::dictionary capitals;
  for (const char* name : {"HPBG", "HPFG"}) {
    txd::texture t;
    t.name = name;
    t.levels = txd::mip_chain(2, 2, std::vector<std::uint8_t>(16, 200));
    capitals.textures.push_back(t);
  }
  const fs::path file = runs_root() / "capitals.txd";
  ASSERT_TRUE(txd::write_file(file.string(), capitals));
  const run r = hostsim("capitals", {{"peds", {{{"slot", 3}, {"position", {2, 0, 0}}}}}, {"events", {"start_up", "draw"}}},
                        PLUGIN_ASI, file.string());
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_EQ(r.summary["rings_in_last_drawn_frame"], 1);
  EXPECT_EQ(r.calls("RwIm3DTransform").size(), 2u);
}

TEST_F(WineHostsimTest, PluginThatCannotBeLoadedIsRefused) {
  const run r = hostsim("not-a-plugin", json::object(), DEMO_SCENARIO);  // a JSON file, not a DLL
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.error.find("cannot load scripts\\MorvaHealthRing.asi"), std::string::npos) << r.error;
}

}  // namespace
