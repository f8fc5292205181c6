#include <gtest/gtest.h>
#include <fstream>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "overlay/diagnostic_log.h"
#include "sim/os_linux.h"
#include "tests/support/fresh_process.h"
#include "tests/support/test_game.h"

namespace {

using test::log_lines;
using test::txd_place;
using lines = std::vector<std::string>;

class DiagnosticLogTest : public test::OverlayTest {};

TEST_F(DiagnosticLogTest, TypicalStartWritesTheLinesInOrder) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.start_up();
  world.draw();
  EXPECT_EQ(log_lines(), (lines{
                             "MorvaHealthRing started",
                             "TXD loaded: " + test::candidate_path(txd_place::beside_plugin),
                             "  texture in TXD: 'hpfg'",
                             "  texture in TXD: 'hpbg'",
                             "  hpbg -> found",
                             "  hpfg -> found",
                             "Draw event is running",
                         }));
}

TEST_F(DiagnosticLogTest, EveryLineEndsWithExactlyOneCarriageReturnAndLineFeed) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.start_up();
  const std::string text = test::log_text();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(0, 25), "MorvaHealthRing started\r\n");
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_EQ(text[i - 1], '\r') << "at byte " << i;
    }
    if (text[i] == '\r') {
      ASSERT_LT(i + 1, text.size());
      EXPECT_EQ(text[i + 1], '\n') << "at byte " << i;
    }
  }
}

// The start-up site may never run (another module redirected it with a
// jump): the first frame starts the log, and a stale one from an earlier game
// is replaced.
TEST_F(DiagnosticLogTest, FirstDrawStartsTheLogWhenNoStartUpCame) {
  test::write_ring_txd(txd_place::beside_plugin);
  overlay::log_line("dropped %d", 1);
  EXPECT_FALSE(test::file_exists(test::log_path()));
  std::FILE* stale = std::fopen(test::log_path().c_str(), "wb");
  std::fputs("frame 600: loaded=0 peds_in_range=0 rings_drawn=0 projection_failed=0 (counts since last line)\r\n", stale);
  std::fclose(stale);
  world.draw();
  world.draw();
  const lines log = log_lines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log.front(), "MorvaHealthRing started");
  EXPECT_EQ(log[1], "TXD loaded: " + test::candidate_path(txd_place::beside_plugin));
  EXPECT_EQ(log.back(), "Draw event is running");
  EXPECT_EQ(std::count(log.begin(), log.end(), "MorvaHealthRing started"), 1);
}

TEST_F(DiagnosticLogTest, SecondStartUpEmptiesTheFile) {
  world.start_up();
  world.draw();
  overlay::log_line("before the second start-up");
  world.start_up();
  const lines after = log_lines();
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.front(), "MorvaHealthRing started");
  EXPECT_EQ(std::count(after.begin(), after.end(), "MorvaHealthRing started"), 1);
  EXPECT_EQ(std::count(after.begin(), after.end(), "before the second start-up"), 0);
}

TEST_F(DiagnosticLogTest, LongLineIsCutAfterFiveHundredAndElevenCharacters) {
  world.start_up();
  const std::string long_text(600, 'x');
  overlay::log_line("%s", long_text.c_str());
  const lines all = log_lines();
  EXPECT_EQ(all.back(), std::string(511, 'x'));
}

TEST_F(DiagnosticLogTest, LineFeedInsideAnArgumentIsWrittenAsItIs) {
  world.start_up();
  overlay::log_line("two%sparts", "\n");
  const std::string text = test::log_text();
  EXPECT_EQ(text.substr(text.size() - 11), "two\nparts\r\n");
}

TEST_F(DiagnosticLogTest, UnwritableLogLosesItsLinesAndNothingElse) {
  std::filesystem::create_directory(test::log_path());  // a folder where the file should be
  test::write_ring_txd(txd_place::beside_plugin);
  test::add_ped(3, {2.0f, 0.0f, 0.0f});
  world.start_up();
  world.draw();
  EXPECT_TRUE(state.textures_loaded);
  EXPECT_EQ(world.accepted_fans().size(), 2u);
  EXPECT_EQ(state.log_path, std::filesystem::path(test::log_path()).wstring());
  std::filesystem::remove(test::log_path());
  overlay::log_line("arrives again");
  EXPECT_EQ(log_lines(), (lines{"arrives again"}));
}

TEST_F(DiagnosticLogTest, DeletedLogIsCreatedAgainWithoutAStartLine) {
  world.start_up();
  std::filesystem::remove(test::log_path());
  overlay::log_line("frame %d: %s", 7, "later");
  EXPECT_EQ(log_lines(), (lines{"frame 7: later"}));
}

// A plugin folder whose paths pass 259 characters: the plugin's own files
// through the wide API, the dictionary handed to the game's narrow open in a
// form it takes (the folder's short form, else relative to the game's
// folder), and a narrow open of the full path refused as Windows does.
TEST(DiagnosticLogPathTest, FolderBeyondTwoHundredSixtyCharactersGetsItsLogAndItsDictionary) {
  for (const bool short_names : {false, true}) {
    SCOPED_TRACE(short_names ? "with short names" : "without short names");
    IN_FRESH_PROCESS({
      const std::string game = test::game_dir().root + "/" + std::string(60, 'g');
      const std::string folder = game + "/" + std::string(170, 'l') + "/";
      std::filesystem::create_directories(folder);
      ASSERT_EQ(chdir(game.c_str()), 0);
      os::linux_host::set_module_file_name(folder + "MorvaHealthRing.asi");
      if (short_names) {
        // The volume's short name, as a link to the folder.
        os::linux_host::set_short_path(folder, game + "/LLLLLL~1/");
        std::filesystem::create_directory_symlink(folder, game + "/LLLLLL~1");
      }
      test::prepare_plugin();
      test::reset_overlay();
      test::write_txd_at(folder + "DEVIZAR.txd", {"hpbg", "hpfg"});
      std::ofstream(folder + "MorvaHealthRing.ini") << "[Rings]\nRadius=2\n";
      ASSERT_GT((folder + "DEVIZAR.txd").size(), 259u);
      EXPECT_EQ(os::open_file((folder + "DEVIZAR.txd").c_str(), os::file_open::read_existing), nullptr);

      sim::host_world& world = sim::host_world::get();
      world.start_up();
      const std::string handed = short_names ? game + "/LLLLLL~1/DEVIZAR.txd" : std::string(170, 'l') + "/DEVIZAR.txd";
      const std::vector<std::string> log = test::log_lines_of(folder + "MorvaHealthRing.log");
      ASSERT_GE(log.size(), 3u);
      EXPECT_EQ(log[0], "MorvaHealthRing started");
      EXPECT_EQ(log[1], "settings: 1 values read from MorvaHealthRing.ini");
      EXPECT_EQ(log[2], "TXD loaded: " + handed);
      EXPECT_EQ(world.loaded_paths(), (lines{handed}));
      EXPECT_TRUE(overlay::state().textures_loaded);
      EXPECT_EQ(overlay::state().settings.radius, 2.0f);
    });
  }
}

}  // namespace
