#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "hooking/patch/hooking.h"
#include "overlay/plugin.h"
#include "platform/os.h"
#include "sim/seam_control.h"
#include "sim/os_linux.h"
#include "sim/foreign_patch.h"
#include "sim/site_function.h"
#include "tests/support/fresh_process.h"
#include "tests/support/test_game.h"
#include "tests/support/test_sites.h"

namespace {

using sim::call_kind;
using test::txd_place;
using lines = std::vector<std::string>;
using bytes = std::vector<std::uint8_t>;

class PluginLifecycleTest : public test::OverlayTest {};

TEST_F(PluginLifecycleTest, ShutdownReleasesTheDictionaryAndKeepsTheCounters) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.start_up();
  world.draw();
  const std::int32_t frames = state.frame_count;
  const std::int32_t counted = state.peds_in_range;
  const std::wstring path = state.log_path;
  const std::size_t log_size = test::log_text().size();
  world.calls.clear();
  EXPECT_EQ(world.shutdown(), reinterpret_cast<void*>(sim::host_world::shutdown_result));
  EXPECT_EQ(world.calls_of(call_kind::tex_dictionary_destroy).size(), 1u);
  EXPECT_TRUE(world.live_dictionaries.empty());
  EXPECT_EQ(state.ring_dictionary, nullptr);
  EXPECT_EQ(state.ring_background, nullptr);
  EXPECT_EQ(state.ring_foreground, nullptr);
  EXPECT_FALSE(state.textures_loaded);
  EXPECT_EQ(state.frame_count, frames);
  EXPECT_EQ(state.peds_in_range, counted);
  EXPECT_EQ(state.log_path, path);
  EXPECT_EQ(test::log_text().size(), log_size);  // writes nothing
}

TEST_F(PluginLifecycleTest, ShutdownReleasesBeforeTheGamesOwnCall) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.start_up();
  world.shutdown();
  EXPECT_EQ(world.game_calls[2], 1u);
  EXPECT_EQ(world.dictionaries_destroyed, 1u);
}

TEST_F(PluginLifecycleTest, ShutdownWithoutADictionaryMakesNoHostCall) {
  world.start_up();
  world.calls.clear();
  world.shutdown();
  EXPECT_TRUE(world.calls.empty());
  EXPECT_EQ(state.ring_dictionary, nullptr);
  EXPECT_FALSE(state.textures_loaded);
}

TEST_F(PluginLifecycleTest, FramesAfterAShutdownDrawNothingUntilTheNextRetryLoads) {
  test::write_ring_txd(txd_place::beside_plugin);
  test::add_ped(3, {2.0f, 0.0f, 0.0f});
  world.start_up();
  for (int i = 0; i < 10; ++i) world.draw();
  world.shutdown();
  world.draw();
  EXPECT_TRUE(world.accepted_fans().empty());
  while (world.frame < 599) world.draw();
  EXPECT_TRUE(world.accepted_fans().empty());
  world.draw();  // frame 600 retries
  EXPECT_EQ(world.accepted_fans().size(), 2u);
  EXPECT_TRUE(state.textures_loaded);
}

TEST_F(PluginLifecycleTest, FirstDrawBeforeAnyStartUpLoadsAndStartsTheLog) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.draw();
  EXPECT_EQ(state.frame_count, 1);
  EXPECT_TRUE(state.textures_loaded);
  EXPECT_EQ(test::log_lines().front(), "MorvaHealthRing started");
}

TEST_F(PluginLifecycleTest, StartUpWhileADictionaryIsHeldReleasesItFirst) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.start_up();
  world.start_up();
  EXPECT_EQ(world.dictionaries_destroyed, 1u);
  EXPECT_EQ(world.live_dictionaries.size(), 1u);
  EXPECT_TRUE(state.textures_loaded);
  EXPECT_EQ(test::log_lines().front(), "MorvaHealthRing started");
}

TEST_F(PluginLifecycleTest, FailedStartUpWhileADictionaryIsHeldLeavesNothingHeld) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.start_up();
  std::filesystem::remove(test::file_path(txd_place::beside_plugin));
  world.start_up();
  EXPECT_TRUE(world.live_dictionaries.empty());
  EXPECT_EQ(state.ring_dictionary, nullptr);
  EXPECT_EQ(state.ring_background, nullptr);
  EXPECT_FALSE(state.textures_loaded);
}

TEST_F(PluginLifecycleTest, ConstructingThePluginAgainRegistersNothingTwice) {
  overlay::MorvaHealthRing again;
  test::write_ring_txd(txd_place::beside_plugin);
  world.start_up();
  EXPECT_EQ(world.loaded_paths().size(), 1u);  // one start-up handler ran
}

// The plugin as a loadable module, with its own load-time objects.
struct loaded_plugin {
  void* handle = nullptr;
  explicit loaded_plugin(const char* path) { handle = dlopen(path, RTLD_NOW | RTLD_LOCAL); }
  ~loaded_plugin() {
    if (handle) os::linux_host::free_library(handle);
  }
};

std::vector<std::uintptr_t> restored_or_patched_sites() {
  std::vector<std::uintptr_t> sites;
  const os::seam_control& c = os::control();
  for (std::size_t i = 0; i < c.record_count; ++i) {
    const os::call_record& r = c.records[i];
    if (r.what == os::call::flush_instruction_cache && (r.size == 1 || r.size == 5)) sites.push_back(r.address);
  }
  return sites;
}

TEST(PluginModuleTest, LoadRecognisesTheBuildFirstThenPatchesTheThreeSitesInOrder) {
  IN_FRESH_PROCESS({
    test::game_dir();
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    os::control().recording = true;
    loaded_plugin plugin(NATIVE_PLUGIN_PATH);
    ASSERT_NE(plugin.handle, nullptr) << dlerror();
    os::control().recording = false;
    const os::seam_control& c = os::control();
    ASSERT_GT(c.record_count, 0u);
    // Build recognition (the module base, then the probe) comes before any patch.
    EXPECT_EQ(c.records[0].what, os::call::get_module_handle);
    EXPECT_EQ(c.records[1].what, os::call::virtual_protect);
    EXPECT_EQ(c.records[1].address, 0x401000u);
    EXPECT_EQ(restored_or_patched_sites(),
              (std::vector<std::uintptr_t>{host::addr::start_up_site, host::addr::drawing_site,
                                           host::addr::shutdown_site}));
    // No handler ran during the load.
    EXPECT_FALSE(test::file_exists(test::log_path()));
    EXPECT_EQ(world.game_calls[0] + world.game_calls[1] + world.game_calls[2], 0u);
  });
}

TEST(PluginModuleTest, UnloadPutsEverySiteBackShutdownFirst) {
  IN_FRESH_PROCESS({
    test::game_dir();
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1002));
    const bytes s = test::site_bytes(host::addr::start_up_site);
    const bytes d = test::site_bytes(host::addr::drawing_site);
    const bytes x = test::site_bytes(host::addr::shutdown_site);
    {
      loaded_plugin plugin(NATIVE_PLUGIN_PATH);
      ASSERT_NE(plugin.handle, nullptr) << dlerror();
      test::write_ring_txd(txd_place::beside_plugin);
      world.start_up();
      world.draw();
      world.shutdown();
      EXPECT_EQ(test::log_lines().back(), "Draw event is running");
      os::reset_control();
      os::control().recording = true;
    }
    EXPECT_EQ(restored_or_patched_sites(),
              (std::vector<std::uintptr_t>{host::addr::shutdown_site, host::addr::drawing_site,
                                           host::addr::start_up_site}));
    EXPECT_EQ(test::site_bytes(host::addr::start_up_site), s);
    EXPECT_EQ(test::site_bytes(host::addr::drawing_site), d);
    EXPECT_EQ(test::site_bytes(host::addr::shutdown_site), x);
  });
}

TEST(PluginModuleTest, UnservedBuildWritesOneLogLineAndNeverRuns) {
  for (std::uint32_t id : {0u, 1011u, 1101u, 1111u, 3200u, 3210u}) {
    SCOPED_TRACE(id);
    IN_FRESH_PROCESS({
      test::game_dir();
      sim::host_world& world = sim::host_world::get();
      ASSERT_TRUE(world.lay_out(id));
      std::vector<bytes> before;
      for (hooking::host_address site : host::addr::event_sites) before.push_back(sim::site_function::bytes(site));
      test::write_ring_txd(txd_place::beside_plugin);
      loaded_plugin plugin(NATIVE_PLUGIN_PATH);
      ASSERT_NE(plugin.handle, nullptr) << dlerror();
      world.start_up();
      for (int i = 0; i < 600; ++i) world.draw();
      world.shutdown();
      EXPECT_EQ(test::log_text(),
                "MorvaHealthRing not started: unsupported game executable (build id " + std::to_string(id) + ")\r\n");
      EXPECT_TRUE(world.calls.empty());
      EXPECT_TRUE(os::linux_host::message_boxes().empty());
      for (int i = 0; i < 3; ++i) EXPECT_EQ(sim::site_function::bytes(host::addr::event_sites[i]), before[i]);
    });
  }
}

// The protections of the game image's pages, as the system reports them.
std::vector<std::string> image_protections() {
  std::vector<std::string> out;
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  char line[512];
  while (maps && std::fgets(line, sizeof line, maps)) {
    unsigned long long begin = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line, "%llx-%llx %4s", &begin, &end, perms) != 3) continue;
    if (end > sim::code_begin && begin < sim::image_end) out.push_back(line);
  }
  if (maps) std::fclose(maps);
  return out;
}

// Another module patched the drawing site before the plugin loaded, in each
// of the four forms such modules use: calls are chained, jumps left alone,
// and the game function's registers and stack hold across every frame.
TEST(PluginModuleTest, SiteTakenByAnotherModuleIsChainedForCallsAndLeftAloneForJumps) {
  for (sim::foreign_form form : {sim::foreign_form::call_relative, sim::foreign_form::call_indirect, sim::foreign_form::jump_relative,
                                 sim::foreign_form::jump_indirect}) {
    SCOPED_TRACE(sim::foreign_form_name(form));
    IN_FRESH_PROCESS({
      test::game_dir();
      sim::host_world& world = sim::host_world::get();
      ASSERT_TRUE(world.lay_out(hooking::version_1001));
      ASSERT_TRUE(world.patch_by_another_module(host::addr::drawing_site, form));
      const bytes theirs = sim::site_function::bytes(host::addr::drawing_site);
      const std::vector<std::string> protections = image_protections();
      test::write_ring_txd(txd_place::beside_plugin);
      test::add_ped(3, {2.0f, 0.0f, 0.0f});
      world.recording = false;
      const bool call = form == sim::foreign_form::call_relative || form == sim::foreign_form::call_indirect;
      {
        loaded_plugin plugin(NATIVE_PLUGIN_PATH);
        ASSERT_NE(plugin.handle, nullptr) << dlerror();
        EXPECT_EQ(sim::site_function::bytes(host::addr::drawing_site) == theirs, !call);
        world.start_up();
        for (int i = 0; i < 600; ++i) {
          EXPECT_EQ(world.draw(), reinterpret_cast<void*>(sim::host_world::drawing_result));
        }
        EXPECT_EQ(world.accepted_fans().size(), call ? 2u : 0u);
        world.shutdown();
      }
      EXPECT_EQ(sim::site_function::mismatches(), 0u);
      EXPECT_EQ(sim::foreign_module::get().runs(host::addr::drawing_site), 600u);
      EXPECT_EQ(world.game_calls[1], 600u);
      EXPECT_EQ(sim::site_function::bytes(host::addr::drawing_site), theirs);
      EXPECT_EQ(image_protections(), protections);
      const lines log = test::log_lines();
      const std::string left_alone =
          "drawing site 0x53E293 left alone: another module redirected it with a jump (rings cannot be drawn)";
      EXPECT_EQ(std::count(log.begin(), log.end(), left_alone), call ? 0 : 1);
    });
  }
}

// A stale log from an earlier game, and a start-up site that never runs
// because another module redirected it with a jump: the first frame starts
// the log, says why, and the rings are drawn all the same.
TEST(PluginModuleTest, JumpAtTheStartUpSiteStartsTheLogAtTheFirstFrameAndSaysWhy) {
  IN_FRESH_PROCESS({
    test::game_dir();
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    ASSERT_TRUE(world.patch_by_another_module(host::addr::start_up_site, sim::foreign_form::jump_relative));
    std::FILE* stale = std::fopen(test::log_path().c_str(), "wb");
    std::fputs("frame 600: loaded=0 peds_in_range=0 rings_drawn=0 projection_failed=0 (counts since last line)\r\n", stale);
    std::fclose(stale);
    test::write_ring_txd(txd_place::beside_plugin);
    test::add_ped(3, {2.0f, 0.0f, 0.0f});
    loaded_plugin plugin(NATIVE_PLUGIN_PATH);
    ASSERT_NE(plugin.handle, nullptr) << dlerror();
    world.start_up();
    world.draw();
    EXPECT_EQ(world.accepted_fans().size(), 2u);
    const lines log = test::log_lines();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "MorvaHealthRing started");
    EXPECT_EQ(log[1], "start-up site 0x5BF3A1 left alone: another module redirected it with a jump "
                      "(the log and the textures start at the first frame)");
    EXPECT_EQ(log[2], "TXD loaded: " + test::candidate_path(txd_place::beside_plugin));
    EXPECT_EQ(log.back(), "Draw event is running");
  });
}

std::string copy_of_plugin(const std::string& folder, const std::string& name) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(NATIVE_PLUGIN_PATH, folder + name, std::filesystem::copy_options::overwrite_existing);
  return folder + name;
}

// Two copies of the plugin in one game, in one folder or in two, unloaded in
// either order: the first draws, the second stands down and is named in the
// first's log; when the first goes first the second takes over and goes on
// in the same log. Rings are drawn once per pedestrian in every frame.
TEST(PluginModuleTest, SecondCopyStandsDownAndEitherUnloadOrderKeepsOneRingPerPedestrian) {
  for (const bool same_folder : {true, false}) {
    for (const bool first_leaves_first : {true, false}) {
      SCOPED_TRACE(std::string(same_folder ? "same folder, " : "two folders, ") +
                   (first_leaves_first ? "first unloaded first" : "second unloaded first"));
      IN_FRESH_PROCESS({
        const std::string root = test::game_dir().root;
        os::linux_host::set_module_file_name("");  // each copy's own file
        sim::host_world& world = sim::host_world::get();
        ASSERT_TRUE(world.lay_out(hooking::version_1001));
        const std::vector<bytes> sites = {test::site_bytes(host::addr::start_up_site),
                                          test::site_bytes(host::addr::drawing_site),
                                          test::site_bytes(host::addr::shutdown_site)};
        const std::vector<std::string> protections = image_protections();
        const std::string first_path = copy_of_plugin(root + "/one/", "MorvaHealthRing.asi");
        const std::string second_path = copy_of_plugin(root + (same_folder ? "/one/" : "/two/"), "Renamed.asi");
        test::write_ring_txd(txd_place::game_models_txd);
        test::add_ped(3, {2.0f, 0.0f, 0.0f});
        auto* first = new loaded_plugin(first_path.c_str());
        auto* second = new loaded_plugin(second_path.c_str());
        ASSERT_TRUE(first->handle && second->handle);
        world.start_up();
        for (int i = 0; i < 600; ++i) {
          world.draw();
          ASSERT_EQ(world.accepted_fans().size(), 2u);
        }
        delete (first_leaves_first ? first : second);
        for (int i = 0; i < 600; ++i) {
          world.draw();
          ASSERT_EQ(world.accepted_fans().size(), 2u);
        }
        const lines log = test::log_lines_of(root + "/one/MorvaHealthRing.log");
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[0], "MorvaHealthRing started");
        EXPECT_EQ(std::count(log.begin(), log.end(), "another copy at " + second_path + " was loaded and does nothing"), 1);
        EXPECT_EQ(std::count(log.begin(), log.end(), "Draw event is running"), first_leaves_first ? 2 : 1);
        EXPECT_EQ(std::count(log.begin(), log.end(),
                             "the copy at " + first_path + " was unloaded; the copy at " + second_path +
                                 " draws the rings from now on"),
                  first_leaves_first ? 1 : 0);
        // Each drawing copy counts its own frames: the one that took over starts at 1.
        EXPECT_EQ(log.back(), std::string(first_leaves_first ? "frame 600" : "frame 1200") +
                                  ": loaded=1 peds_in_range=600 rings_drawn=600 projection_failed=0 (counts since last line)");
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("frame 600:", 0) == 0; }),
                  first_leaves_first ? 2 : 1);
        delete (first_leaves_first ? second : first);
        world.draw();
        EXPECT_TRUE(world.accepted_fans().empty());
        EXPECT_EQ(test::site_bytes(host::addr::start_up_site), sites[0]);
        EXPECT_EQ(test::site_bytes(host::addr::drawing_site), sites[1]);
        EXPECT_EQ(test::site_bytes(host::addr::shutdown_site), sites[2]);
        EXPECT_EQ(image_protections(), protections);
        EXPECT_EQ(sim::site_function::mismatches(), 0u);
        EXPECT_TRUE(os::linux_host::pinned_modules().empty());
      });
    }
  }
}

// Three copies: the first goes, the second takes over and adopts the third;
// the third goes next and must be forgotten by the second, which then goes
// without handing the drawing to a copy that is no longer there.
TEST(PluginModuleTest, ACopyAdoptedByTheOneThatTookOverIsForgottenWhenItGoes) {
  IN_FRESH_PROCESS({
    const std::string root = test::game_dir().root;
    os::linux_host::set_module_file_name("");
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    const bytes drawing_site = test::site_bytes(host::addr::drawing_site);
    test::write_ring_txd(txd_place::game_models_txd);
    test::add_ped(3, {2.0f, 0.0f, 0.0f});
    auto* first = new loaded_plugin(copy_of_plugin(root + "/one/", "MorvaHealthRing.asi").c_str());
    auto* second = new loaded_plugin(copy_of_plugin(root + "/one/", "Second.asi").c_str());
    auto* third = new loaded_plugin(copy_of_plugin(root + "/one/", "Third.asi").c_str());
    ASSERT_TRUE(first->handle && second->handle && third->handle);
    world.start_up();
    world.draw();
    delete first;
    world.draw();
    EXPECT_EQ(world.accepted_fans().size(), 2u);
    delete third;
    world.draw();
    EXPECT_EQ(world.accepted_fans().size(), 2u);
    delete second;
    world.draw();
    EXPECT_TRUE(world.accepted_fans().empty());
    EXPECT_EQ(test::site_bytes(host::addr::drawing_site), drawing_site);
    EXPECT_EQ(sim::site_function::mismatches(), 0u);
  });
}

// Another module hooks the drawing site after the plugin and chains to it.
// The plugin is unloaded first: its code stays mapped (pinned) because the
// other module still calls it, and the other module and the game keep running
// every frame without a fault.
TEST(PluginModuleTest, ModuleThatHooksAfterUsKeepsRunningAfterOurUnload) {
  IN_FRESH_PROCESS({
    test::game_dir();
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    test::write_ring_txd(txd_place::beside_plugin);
    test::add_ped(3, {2.0f, 0.0f, 0.0f});
    auto* plugin = new loaded_plugin(NATIVE_PLUGIN_PATH);
    ASSERT_NE(plugin->handle, nullptr) << dlerror();
    world.start_up();
    world.draw();
    const std::uintptr_t site = reinterpret_cast<std::uintptr_t>(sim::game_image::get().at(host::addr::drawing_site));
    ASSERT_TRUE(sim::foreign_module::get().patch(host::addr::drawing_site, sim::foreign_form::call_relative,
                                                 reinterpret_cast<const void*>(patch::call_target_at(site))));
    const bytes theirs = sim::site_function::bytes(host::addr::drawing_site);
    EXPECT_TRUE(os::linux_host::pinned_modules().empty());
    world.draw();
    EXPECT_EQ(world.accepted_fans().size(), 2u);
    EXPECT_EQ(os::linux_host::pinned_modules().size(), 1u);
    world.shutdown();
    delete plugin;
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(world.draw(), reinterpret_cast<void*>(sim::host_world::drawing_result));
    }
    EXPECT_TRUE(world.accepted_fans().empty());
    EXPECT_EQ(sim::foreign_module::get().runs(host::addr::drawing_site), 11u);
    EXPECT_EQ(world.game_calls[1], 12u);
    EXPECT_EQ(sim::site_function::bytes(host::addr::drawing_site), theirs);
    EXPECT_EQ(sim::site_function::mismatches(), 0u);
  });
}

// The drawing copy unloaded mid-game with the player's settings: the copy
// that takes over reads them from the same file and keeps the rings hidden
// as they were; the toggle key then shows them at the set radius and
// opacity. The dictionary goes with the hand-over; after the last
// FreeLibrary none is held, also when another module keeps the shutdown
// handler from running.
TEST(PluginModuleTest, HandOverKeepsTheSettingsAndUnloadGivesTheDictionaryBack) {
  for (const bool shutdown_jumped : {false, true}) {
    SCOPED_TRACE(shutdown_jumped ? "shutdown site redirected by a jump" : "all sites hooked");
    IN_FRESH_PROCESS({
      const std::string root = test::game_dir().root;
      os::linux_host::set_module_file_name("");
      sim::host_world& world = sim::host_world::get();
      ASSERT_TRUE(world.lay_out(hooking::version_1001));
      if (shutdown_jumped) {
        ASSERT_TRUE(world.patch_by_another_module(host::addr::shutdown_site, sim::foreign_form::jump_relative));
      }
      const std::string first_path = copy_of_plugin(root + "/one/", "MorvaHealthRing.asi");
      const std::string second_path = copy_of_plugin(root + "/two/", "Copy.asi");
      std::ofstream(root + "/one/MorvaHealthRing.ini") << "[Rings]\nEnabled=0\nToggleKey=F7\nRadius=2\nOpacity=128\n";
      test::write_ring_txd(txd_place::game_models_txd);
      test::add_ped(3, {2.0f, 0.0f, 0.0f});
      auto* first = new loaded_plugin(first_path.c_str());
      auto* second = new loaded_plugin(second_path.c_str());
      ASSERT_TRUE(first->handle && second->handle);
      world.start_up();
      world.draw();
      EXPECT_TRUE(world.accepted_fans().empty());  // Enabled=0
      delete first;
      EXPECT_EQ(world.live_dictionaries.size(), 1u);
      EXPECT_EQ(world.dictionaries_destroyed, 0u);
      // Read on the game's thread at the next drawing event, not under the
      // loader lock of the unload.
      const auto settings_lines = [&] {
        const lines log = test::log_lines_of(root + "/one/MorvaHealthRing.log");
        return std::count(log.begin(), log.end(), "settings: 4 values read from MorvaHealthRing.ini");
      };
      EXPECT_EQ(settings_lines(), 1);
      world.draw();
      EXPECT_EQ(settings_lines(), 2);
      for (int i = 0; i < 2; ++i) world.draw();
      EXPECT_TRUE(world.accepted_fans().empty()) << "hidden stays hidden";
      os::linux_host::set_key_down(0x76, true);  // F7
      world.draw();
      os::linux_host::set_key_down(0x76, false);
      ASSERT_EQ(world.accepted_fans().size(), 2u);
      const host::RwIm3DVertex& hub = world.accepted_fans()[0].vertices[0];
      const host::RwIm3DVertex& rim = world.accepted_fans()[0].vertices[1];
      EXPECT_FLOAT_EQ(std::hypot(rim.x - hub.x, rim.y - hub.y), 2.0f);
      EXPECT_EQ(hub.colour >> 24, 128u);
      const lines log = test::log_lines_of(root + "/one/MorvaHealthRing.log");
      EXPECT_EQ(std::count(log.begin(), log.end(), "rings shown (toggle key)"), 1);
      EXPECT_EQ(std::count(log.begin(), log.end(), "settings: 4 values read from MorvaHealthRing.ini"), 2);
      delete second;
      EXPECT_TRUE(world.live_dictionaries.empty());
      EXPECT_EQ(world.dictionaries_destroyed, 1u);
    });
  }
}

// The drawing copy beside its dictionary in scripts\, the one that takes
// over in plugins\, where there is none: it draws with the dictionary
// handed over from its first frame, and loads nothing. Unloaded by a thread
// that is not the game's, it leaves the dictionary to the game.
TEST(PluginModuleTest, CopyInAnotherFolderDrawsWithTheHandedDictionaryFromItsFirstFrame) {
  IN_FRESH_PROCESS({
    const std::string root = test::game_dir().root;
    os::linux_host::set_module_file_name("");
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    auto* first = new loaded_plugin(copy_of_plugin(root + "/scripts/", "MorvaHealthRing.asi").c_str());
    auto* second = new loaded_plugin(copy_of_plugin(root + "/plugins/", "MorvaHealthRing.asi").c_str());
    ASSERT_TRUE(first->handle && second->handle);
    test::write_txd_at(root + "/scripts/DEVIZAR.txd", {"hpbg", "hpfg"});
    test::add_ped(3, {2.0f, 0.0f, 0.0f});
    world.start_up();
    world.draw();
    EXPECT_EQ(world.accepted_fans().size(), 2u);
    delete first;
    for (int frame = 0; frame < 601; ++frame) {
      world.draw();
      ASSERT_EQ(world.accepted_fans().size(), 2u) << "frame " << frame << " after the hand-over";
    }
    EXPECT_EQ(world.calls_of(sim::call_kind::load_txd).size(), 1u);
    const lines log = test::log_lines_of(root + "/scripts/MorvaHealthRing.log");
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("TXD failed", 0) == 0; }),
              0);
    std::thread([second] { delete second; }).join();
    EXPECT_EQ(world.live_dictionaries.size(), 1u);
    EXPECT_EQ(test::log_lines_of(root + "/scripts/MorvaHealthRing.log").back(),
              "dictionary left to the game: FreeLibrary came from another thread");
  });
}

// A site whose code cannot be opened again at unload still calls the
// plugin's entry: the module is pinned and the log says so, or says that
// the pin was refused. (Frames after the unload run under Wine: a pin asked
// for during dlclose keeps nothing mapped on Linux.)
TEST(PluginModuleTest, RestoreRefusedAtUnloadPinsTheModuleAndSaysSo) {
  for (const bool pin_refused : {false, true}) {
    SCOPED_TRACE(pin_refused ? "pin refused" : "pinned");
    IN_FRESH_PROCESS({
      test::game_dir();
      sim::host_world& world = sim::host_world::get();
      ASSERT_TRUE(world.lay_out(hooking::version_1001));
      const bytes original = test::site_bytes(host::addr::drawing_site);
      test::write_ring_txd(txd_place::beside_plugin);
      auto* plugin = new loaded_plugin(NATIVE_PLUGIN_PATH);
      ASSERT_NE(plugin->handle, nullptr) << dlerror();
      world.start_up();
      world.draw();
      const auto site = reinterpret_cast<std::uintptr_t>(sim::game_image::get().at(host::addr::drawing_site));
      os::control().fail_protect_begin = site;
      os::control().fail_protect_end = site + 5;
      os::set_failing(os::call::pin_module, pin_refused);
      delete plugin;
      os::reset_control();
      EXPECT_NE(test::site_bytes(host::addr::drawing_site), original);
      EXPECT_EQ(os::linux_host::pinned_modules().size(), pin_refused ? 0u : 1u);
      const lines log = test::log_lines();
      ASSERT_GE(log.size(), 2u);
      EXPECT_EQ(log[log.size() - 2], "drawing site 0x53E293 could not be given back at unload: its code could not be made writable");
      EXPECT_EQ(log.back(), pin_refused ? "drawing site 0x53E293 may still lead into this copy, which could not be kept loaded: the game may fault"
                                        : "drawing site 0x53E293 may still lead into this copy: it stays loaded until the game exits");
    });
  }
}

// A later release's record: the same first three words, entry points this
// release does not know (calling them would fault).
struct later_release_link {
  std::uint32_t magic = 0x4C52484D;
  std::uint32_t version = 2;
  std::uint32_t size = sizeof(later_release_link);
  std::uintptr_t unknown[8] = {1, 1, 1, 1, 1, 1, 1, 1};
};
later_release_link later_release;

// A copy of another release that draws: this one recognises its claim and
// stands down without calling into it; only one copy draws.
TEST(PluginModuleTest, CopyOfAnotherReleaseIsRecognisedAndOnlyOneDraws) {
  IN_FRESH_PROCESS({
    test::game_dir();
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    const std::string claim = std::to_string(getpid()) + ":" + test::hex(reinterpret_cast<std::uintptr_t>(&later_release));
    setenv("MORVAHEALTHRING_DRAWING_COPY", claim.c_str(), 1);
    test::write_ring_txd(txd_place::beside_plugin);
    test::add_ped(3, {2.0f, 0.0f, 0.0f});
    {
      loaded_plugin plugin(NATIVE_PLUGIN_PATH);
      ASSERT_NE(plugin.handle, nullptr) << dlerror();
      world.start_up();
      world.draw();
      EXPECT_TRUE(world.accepted_fans().empty());
    }
    EXPECT_EQ(getenv("MORVAHEALTHRING_DRAWING_COPY"), claim);
  });
}

// The environment's claim of a drawing copy, pointing at memory that is not
// mapped, or at heap memory that merely holds the right first word: neither
// is taken for a copy, and the plugin loads and draws.
TEST(PluginModuleTest, ClaimThatPointsAnywhereButAModuleIsIgnored) {
  static std::uint32_t* const lookalike = new std::uint32_t[8]{0x4C52484D, 1, 32};
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  munmap(page, 4096);
  for (const void* claimed : {static_cast<const void*>(page), static_cast<const void*>(lookalike)}) {
    IN_FRESH_PROCESS({
      test::game_dir();
      sim::host_world& world = sim::host_world::get();
      ASSERT_TRUE(world.lay_out(hooking::version_1001));
      const std::string claim = std::to_string(getpid()) + ":" + test::hex(reinterpret_cast<std::uintptr_t>(claimed));
      setenv("MORVAHEALTHRING_DRAWING_COPY", claim.c_str(), 1);
      test::write_ring_txd(txd_place::beside_plugin);
      test::add_ped(3, {2.0f, 0.0f, 0.0f});
      loaded_plugin plugin(NATIVE_PLUGIN_PATH);
      ASSERT_NE(plugin.handle, nullptr) << dlerror();
      world.start_up();
      world.draw();
      EXPECT_EQ(world.accepted_fans().size(), 2u);
    });
  }
  // An environment that takes no claim: this copy draws, and says that a
  // copy loaded after it would draw too.
  IN_FRESH_PROCESS({
    test::game_dir();
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    os::set_failing(os::call::environment, true);
    loaded_plugin plugin(NATIVE_PLUGIN_PATH);
    ASSERT_NE(plugin.handle, nullptr) << dlerror();
    world.start_up();
    const lines log = test::log_lines();
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         "this copy could not record itself in the process's environment: a copy loaded after it would draw too"),
              1);
  });
}

}  // namespace
