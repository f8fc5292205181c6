#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "hooking/plugin_folder.h"
#include "platform/os.h"
#include "sim/seam_control.h"
#include "sim/os_linux.h"
#include "tests/support/fresh_process.h"
#include "tests/support/test_game.h"

namespace {

using hooking::plugin_folder;
using hooking::plugin_relative_path;

// Every lookup test needs a process whose folder has not been looked up yet.
void with_plugin_file(const std::string& path) {
  os::reset_control();
  os::linux_host::set_module_file_name(path);
}

TEST(PluginFolderTest, BackslashPathKeepsItsTrailingSeparator) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game\\plugins\\overlay.dll");
    EXPECT_STREQ(plugin_folder(), "D:\\Game\\plugins\\");
    EXPECT_STREQ(plugin_relative_path("MorvaHealthRing.log"), "D:\\Game\\plugins\\MorvaHealthRing.log");
  });
}

TEST(PluginFolderTest, ForwardSlashPathIsCutAfterItsLastSlash) {
  IN_FRESH_PROCESS({
    with_plugin_file("/home/player/game/scripts/MorvaHealthRing.asi");
    EXPECT_STREQ(plugin_folder(), "/home/player/game/scripts/");
  });
}

TEST(PluginFolderTest, MixedSeparatorsAreCutAfterTheRightmostOfEitherKind) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game/plugins\\sub/overlay.dll");
    EXPECT_STREQ(plugin_folder(), "D:\\Game/plugins\\sub/");
  });
  IN_FRESH_PROCESS({
    with_plugin_file("D:/Game/plugins\\overlay.dll");
    EXPECT_STREQ(plugin_folder(), "D:/Game/plugins\\");
  });
}

TEST(PluginFolderTest, PathWithoutSeparatorIsTakenWhole) {
  IN_FRESH_PROCESS({
    with_plugin_file("overlay.dll");
    EXPECT_STREQ(plugin_folder(), "overlay.dll");
  });
}

TEST(PluginFolderTest, LookupAsksForTheModuleHoldingOurOwnCodeWithoutARefcount) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game\\plugins\\overlay.dll");
    os::control().recording = true;
    plugin_folder();
    os::control().recording = false;
    ASSERT_EQ(os::call_count(os::call::get_module_handle_ex), 1u);
    EXPECT_EQ(os::control().records[0].address, reinterpret_cast<std::uintptr_t>(&plugin_folder));
    EXPECT_EQ(os::call_count(os::call::get_module_file_name_w), 1u);
    EXPECT_EQ(os::call_count(os::call::get_module_file_name), 0u);
    EXPECT_EQ(os::call_count(os::call::message_box), 0u);
  });
}

TEST(PluginFolderTest, SecondCallMakesNoSystemCall) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game\\plugins\\overlay.dll");
    const char* first = plugin_folder();
    os::reset_control();
    EXPECT_EQ(plugin_folder(), first);
    plugin_relative_path("x");
    for (unsigned c = 0; c < static_cast<unsigned>(os::call::count_); ++c) {
      EXPECT_EQ(os::control().calls[c], 0u) << "call " << c;
    }
  });
}

TEST(PluginFolderTest, FailedLookupShowsOneErrorBoxAndFallsBackToTheGameExecutable) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game\\plugins\\overlay.dll");
    os::linux_host::set_main_file_name("C:\\Games\\GTA San Andreas\\gta_sa.exe");
    os::linux_host::set_active_window(reinterpret_cast<os::window_handle>(0x1234));
    os::set_failing(os::call::get_module_handle_ex, true);
    EXPECT_STREQ(plugin_folder(), "C:\\Games\\GTA San Andreas\\");
    const auto& boxes = os::linux_host::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "FILESYSTEM\nFailed to retrieve plugin dir path");
    EXPECT_EQ(boxes[0].caption, "hookkit");
    EXPECT_EQ(boxes[0].style, 0x10u);
    EXPECT_EQ(boxes[0].owner, reinterpret_cast<os::window_handle>(0x1234));
    // Not retried, and no second box.
    os::set_failing(os::call::get_module_handle_ex, false);
    EXPECT_STREQ(plugin_folder(), "C:\\Games\\GTA San Andreas\\");
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(os::call_count(os::call::get_module_handle_ex), 1u);
  });
}

TEST(PluginFolderTest, FailedFileNameLeavesAnEmptyFolderAndReportsNothing) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game\\plugins\\overlay.dll");
    os::set_failing(os::call::get_module_file_name_w, true);
    os::set_failing(os::call::get_module_file_name, true);
    EXPECT_STREQ(plugin_folder(), "");
    EXPECT_STREQ(plugin_relative_path("MorvaHealthRing.log"), "MorvaHealthRing.log");
    EXPECT_TRUE(os::linux_host::message_boxes().empty());
  });
}

TEST(PluginFolderTest, TwoJoinsInARowShareOneBuffer) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game\\plugins\\overlay.dll");
    const char* first = plugin_relative_path("first.txt");
    const char* second = plugin_relative_path("second.txt");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "D:\\Game\\plugins\\second.txt");
  });
}

TEST(PluginFolderTest, LongJoinsGetTheLongPathPrefixAndNeverOverflow) {
  IN_FRESH_PROCESS({
    // 250 characters of folder, separator included.
    const std::string folder = "C:\\" + std::string(246, 'f') + "\\";
    with_plugin_file(folder + "overlay.dll");
    ASSERT_EQ(std::strlen(plugin_folder()), 250u);
    EXPECT_STREQ(plugin_relative_path("012345678"), (folder + "012345678").c_str());  // 259: as it is
    EXPECT_STREQ(plugin_relative_path("0123456789"), ("\\\\?\\" + folder + "0123456789").c_str());
    EXPECT_STREQ(plugin_relative_path(std::string(40000, 'n').c_str()), "");
  });
  IN_FRESH_PROCESS({
    const std::string share = "\\\\server\\games\\" + std::string(250, 's') + "\\";
    with_plugin_file(share + "overlay.dll");
    EXPECT_STREQ(plugin_relative_path("MorvaHealthRing.log"),
                 ("\\\\?\\UNC" + share.substr(1) + "MorvaHealthRing.log").c_str());
  });
}

// A path longer than the first buffer is read again into a larger one: cut,
// it would name a folder higher up.
TEST(PluginFolderTest, ModulePathLongerThanTheBufferGivesItsOwnFolder) {
  IN_FRESH_PROCESS({
    const std::string folder = "C:\\Games\\" + std::string(270, 'd') + "\\scripts\\";
    with_plugin_file(folder + "MorvaHealthRing.asi");
    EXPECT_EQ(std::string(plugin_folder()), folder);
  });
  IN_FRESH_PROCESS({
    const std::string folder = "\\\\?\\C:\\" + std::string(300, 'd') + "\\";
    with_plugin_file(folder + "MorvaHealthRing.asi");
    EXPECT_EQ(std::string(plugin_folder()), folder);
    EXPECT_EQ(std::string(plugin_relative_path("DEVIZAR.txd")), folder + "DEVIZAR.txd");
  });
  // Up to the longest path Windows has: its wide form is found whole.
  IN_FRESH_PROCESS({
    const std::string folder = "\\\\?\\C:\\" + std::string(32700, 'd') + "\\";
    with_plugin_file(folder + "MorvaHealthRing.asi");
    EXPECT_EQ(hooking::plugin_folder_w(), std::wstring(folder.begin(), folder.end()));
  });
}

// In code page 932 the second byte of 表 is 0x5C, a backslash: the path is
// split before it is converted, so the character stays whole.
TEST(PluginFolderTest, DoubleByteCharacterEndingInABackslashStaysWhole) {
  IN_FRESH_PROCESS({
    os::reset_control();
    os::linux_host::set_double_byte_character("表", "\x95\x5C");
    os::linux_host::set_double_byte_character("示", "\x8E\xA6");
    os::linux_host::set_module_file_name("C:\\Game\\scripts\\表示.asi");
    EXPECT_STREQ(plugin_folder(), "C:\\Game\\scripts\\");
    EXPECT_STREQ(plugin_relative_path("MorvaHealthRing.log"), "C:\\Game\\scripts\\MorvaHealthRing.log");
    std::string path;
    ASSERT_TRUE(hooking::find_plugin_path_quietly(&path));
    EXPECT_EQ(path, "C:\\Game\\scripts\\\x95\x5C\x8E\xA6.asi");
  });
  IN_FRESH_PROCESS({
    os::reset_control();
    os::linux_host::set_double_byte_character("表", "\x95\x5C");
    os::linux_host::set_module_file_name("C:\\表\\x.asi");
    EXPECT_STREQ(plugin_folder(), "C:\\\x95\x5C\\");
  });
}

// A folder named in a script that the ANSI code page lacks: the narrow path
// would carry '?' and name nothing, so its short form is taken.
TEST(PluginFolderTest, FolderOutsideTheAnsiCodePageIsReachedThroughItsShortName) {
  IN_FRESH_PROCESS({
    os::reset_control();
    os::linux_host::set_single_byte_code_page(true);
    os::linux_host::set_module_file_name("C:\\Игры\\GTA\\scripts\\MorvaHealthRing.asi");
    os::linux_host::set_short_path("C:\\Игры\\GTA\\scripts\\MorvaHealthRing.asi",
                                   "C:\\____~TZN\\GTA\\scripts\\MORVAH~1.ASI");
    EXPECT_STREQ(plugin_folder(), "C:\\____~TZN\\GTA\\scripts\\");
    EXPECT_EQ(os::call_count(os::call::get_module_file_name), 0u);
  });
  // A name the code page holds is kept as it is, not shortened.
  IN_FRESH_PROCESS({
    os::reset_control();
    os::linux_host::set_single_byte_code_page(true);
    os::linux_host::set_module_file_name("C:\\Jeux\\Café\\MorvaHealthRing.asi");
    EXPECT_STREQ(plugin_folder(), "C:\\Jeux\\Caf\xE9\\");
    EXPECT_EQ(os::call_count(os::call::get_short_path_name_w), 0u);
  });
  // Without a short name (a volume that keeps none) the lookup ends as the
  // narrow call answers, and reports nothing.
  IN_FRESH_PROCESS({
    os::reset_control();
    os::linux_host::set_single_byte_code_page(true);
    os::linux_host::set_module_file_name("C:\\Игры\\MorvaHealthRing.asi");
    EXPECT_STREQ(plugin_folder(), "C:\\????\\");
    EXPECT_TRUE(os::linux_host::message_boxes().empty());
  });
}

TEST(PluginFolderTest, QuietLookupShowsNoBoxAndFindsNothingWithoutTheModule) {
  IN_FRESH_PROCESS({
    with_plugin_file("D:\\Game\\plugins\\overlay.dll");
    std::string folder;
    ASSERT_TRUE(hooking::find_plugin_folder_quietly(&folder));
    EXPECT_EQ(folder, "D:\\Game\\plugins\\");
    os::set_failing(os::call::get_module_handle_ex, true);
    EXPECT_FALSE(hooking::find_plugin_folder_quietly(&folder));
    EXPECT_EQ(folder, "");
    EXPECT_TRUE(os::linux_host::message_boxes().empty());
    // The lookup the handlers use later still runs, box and all.
    plugin_folder();
    EXPECT_EQ(os::linux_host::message_boxes().size(), 1u);
  });
}

// scripts\hp.asi in a game whose parent folder the ANSI code page cannot
// name ("Я"), on a volume whose short name for it is longer than the long
// one, and on one without short names: the log and the settings are found
// through the wide path, the dictionary is handed to the game's narrow open
// as the short form or relative to the game's folder, and the ring is drawn.
// The game's folder may be named in another letter case ("я"): Windows
// compares file names without regard to it, in every script.
TEST(PluginFolderTest, FolderTheCodePageCannotNameGetsItsLogSettingsAndDictionary) {
  for (const int variant : {0, 1, 2}) {
    const bool short_names = variant == 0;
    SCOPED_TRACE(variant == 0 ? "short names longer than long ones"
                              : variant == 1 ? "no short names" : "no short names, the game's folder as \"я\"");
    IN_FRESH_PROCESS({
      const std::string root = test::game_dir().root;
      const std::string game = root + "/Я/game";
      std::filesystem::create_directories(game + "/scripts");
      ASSERT_EQ(chdir(game.c_str()), 0);
      os::reset_control();
      os::linux_host::set_single_byte_code_page(true);
      os::linux_host::set_module_file_name(game + "/scripts/hp.asi");
      if (short_names) {
        os::linux_host::set_short_path(game + "/scripts/", root + "/D4F1~1/game/scripts/");
        std::filesystem::create_directory_symlink(root + "/Я", root + "/D4F1~1");
      }
      if (variant == 2) os::linux_host::set_current_directory(root + "/я/GAME");
      test::prepare_plugin();
      test::reset_overlay();
      test::write_txd_at(game + "/scripts/DEVIZAR.txd", {"hpbg", "hpfg"});
      std::ofstream(game + "/scripts/MorvaHealthRing.ini") << "[Rings]\nRadius=2\n";
      test::add_ped(3, {2.0f, 0.0f, 0.0f});
      sim::host_world& world = sim::host_world::get();
      world.start_up();
      world.draw();
      const std::string handed = short_names ? root + "/D4F1~1/game/scripts/DEVIZAR.txd" : "scripts/DEVIZAR.txd";
      const std::vector<std::string> log = test::log_lines_of(game + "/scripts/MorvaHealthRing.log");
      ASSERT_GE(log.size(), 3u);
      EXPECT_EQ(log[1], "settings: 1 values read from MorvaHealthRing.ini");
      EXPECT_EQ(log[2], "TXD loaded: " + handed);
      EXPECT_EQ(world.accepted_fans().size(), 2u);
    });
  }
}

}  // namespace
