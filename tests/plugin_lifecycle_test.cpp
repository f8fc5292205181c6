#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "overlay/plugin.h"
#include "platform/os.h"
#include "platform/os_linux.h"
#include "foreign_patch.h"
#include "site_function.h"
#include "support/fresh_process.h"
#include "support/test_game.h"
#include "support/test_sites.h"

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
  const std::string path = state.log_path;
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

TEST_F(PluginLifecycleTest, FirstDrawBeforeAnyStartUpLoadsButLogsNothing) {
  test::write_ring_txd(txd_place::beside_plugin);
  world.draw();
  EXPECT_EQ(state.frame_count, 1);
  EXPECT_TRUE(state.textures_loaded);
  EXPECT_FALSE(test::file_exists(test::log_path()));
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
    if (handle) dlclose(handle);
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
      for (hooking::host_address site : sim::host_world::event_sites) before.push_back(sim::site_function::bytes(site));
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
      for (int i = 0; i < 3; ++i) EXPECT_EQ(sim::site_function::bytes(sim::host_world::event_sites[i]), before[i]);
    });
  }
}

TEST(PluginModuleTest, TwoPluginsInOneGameBothDrawAndUnloadToTheOriginalBytes) {
  IN_FRESH_PROCESS({
    test::game_dir();
    sim::host_world& world = sim::host_world::get();
    ASSERT_TRUE(world.lay_out(hooking::version_1001));
    const bytes d = test::site_bytes(host::addr::drawing_site);
    const std::string second = test::game_dir().root + "/second_copy.so";
    std::filesystem::copy_file(NATIVE_PLUGIN_PATH, second);
    test::write_ring_txd(txd_place::beside_plugin);
    test::add_ped(3, {2.0f, 0.0f, 0.0f});
    {
      loaded_plugin first(NATIVE_PLUGIN_PATH);
      {
        loaded_plugin other(second.c_str());
        ASSERT_NE(first.handle, nullptr);
        ASSERT_NE(other.handle, nullptr);
        world.start_up();
        world.draw();
        EXPECT_EQ(world.accepted_fans().size(), 4u);
        EXPECT_EQ(world.game_calls[1], 1u);
      }
      world.draw();
      EXPECT_EQ(world.accepted_fans().size(), 2u);
    }
    EXPECT_EQ(test::site_bytes(host::addr::drawing_site), d);
  });
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
  for (sim::foreign_form form : {sim::foreign_form::call, sim::foreign_form::call_indirect, sim::foreign_form::jmp,
                                 sim::foreign_form::jmp_indirect}) {
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
      const bool call = form == sim::foreign_form::call || form == sim::foreign_form::call_indirect;
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
    });
  }
}

}  // namespace
