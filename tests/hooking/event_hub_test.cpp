#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/game_image.h"
#include "hooking/events/event_hub.h"
#include "sim/host_world.h"
#include "platform/os.h"
#include "sim/seam_control.h"
#include "sim/site_function.h"
#include "tests/support/fresh_process.h"
#include "tests/support/test_sites.h"

namespace {

using bytes = std::vector<std::uint8_t>;

template <hooking::host_address Site>
events::game_event<Site>& hub() {
  static events::game_event<Site> instance;
  return instance;
}

std::vector<std::string> trace;
void note_a() { trace.push_back("a"); }
void note_b() { trace.push_back("b"); }

// The game function of the test sites notes itself too.
void* HOST_ENTRY traced_game() {
  trace.push_back("game");
  return test::game_function();
}

std::uintptr_t make_traced_site(hooking::host_address site) {
  test::ensure_image();
  sim::site_function::write_call(site, reinterpret_cast<const void*>(&traced_game));
  return sim::game_image::get().running(site);
}

class EventHubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensure_image();
    os::reset_control();
    trace.clear();
    test::game_function_calls = 0;
  }
};

TEST_F(EventHubTest, FirstHandlerPatchesTheSiteEvenWhenItGoesAfter) {
  constexpr hooking::host_address site = 0x404000;
  const std::uintptr_t x = make_traced_site(site);
  auto& h = hub<site>();
  EXPECT_FALSE(h.patched);
  h.add_handler(h.after, &note_a);
  EXPECT_TRUE(h.patched);
  EXPECT_NE(patch::call_target_at(x), reinterpret_cast<std::uintptr_t>(&traced_game));
  os::reset_control();
  h.add_handler(h.before, &note_b);
  EXPECT_EQ(os::call_count(os::call::virtual_protect), 0u);  // nothing patched again
  EXPECT_EQ(test::run_site(site), reinterpret_cast<void*>(test::game_result));
  EXPECT_EQ(trace, (std::vector<std::string>{"b", "game", "a"}));
}

TEST_F(EventHubTest, AfterHandlersRunAfterTheGameInTheOrderAdded) {
  constexpr hooking::host_address site = 0x404100;
  make_traced_site(site);
  auto& h = hub<site>();
  h.add_handler(h.after, &note_a);
  h.add_handler(h.after, &note_b);
  h.add_handler(h.after, [] { trace.push_back("closure"); });
  EXPECT_EQ(test::run_site(site), reinterpret_cast<void*>(test::game_result));
  EXPECT_EQ(trace, (std::vector<std::string>{"game", "a", "b", "closure"}));
  EXPECT_EQ(test::game_function_calls, 1u);
}

TEST_F(EventHubTest, SamePlainFunctionIsStoredOncePerList) {
  constexpr hooking::host_address site = 0x404200;
  make_traced_site(site);
  auto& h = hub<site>();
  h.add_handler(h.before, &note_a);
  h.add_handler(h.before, &note_a);
  h.add_handler(h.after, &note_a);
  EXPECT_EQ(h.before.size(), 1u);
  EXPECT_EQ(h.after.size(), 1u);
  test::run_site(site);
  EXPECT_EQ(trace, (std::vector<std::string>{"a", "game", "a"}));
}

TEST_F(EventHubTest, ClosuresAreNeverDuplicatesEvenWithEqualCaptures) {
  constexpr hooking::host_address site = 0x404300;
  make_traced_site(site);
  auto& h = hub<site>();
  const std::string tag = "same";
  h.add_handler(h.before, [tag] { trace.push_back(tag); });
  h.add_handler(h.before, [tag] { trace.push_back(tag); });
  h.add_handler(h.before, &note_a);  // a plain function beside closures is still compared
  h.add_handler(h.before, &note_a);
  EXPECT_EQ(h.before.size(), 3u);
  test::run_site(site);
  EXPECT_EQ(trace, (std::vector<std::string>{"same", "same", "a", "game"}));
}

TEST_F(EventHubTest, HandlerWithoutACallableIsIgnored) {
  constexpr hooking::host_address site = 0x404400;
  const bytes before_bytes = (make_traced_site(site), test::site_bytes(site));
  auto& h = hub<site>();
  h.add_handler(h.before, events::Handler{});
  EXPECT_TRUE(h.before.empty());
  EXPECT_FALSE(h.patched);
  EXPECT_EQ(test::site_bytes(site), before_bytes);
}

TEST_F(EventHubTest, ThrowingHandlerDoesNotStopTheOthersOrTheGame) {
  constexpr hooking::host_address site = 0x404500;
  make_traced_site(site);
  auto& h = hub<site>();
  h.add_handler(h.before, [] { throw std::runtime_error("handler failed"); });
  h.add_handler(h.before, &note_a);
  h.add_handler(h.after, [] { throw 42; });
  h.add_handler(h.after, &note_b);
  EXPECT_EQ(test::run_site(site), reinterpret_cast<void*>(test::game_result));
  EXPECT_EQ(trace, (std::vector<std::string>{"a", "game", "b"}));
}

TEST_F(EventHubTest, HandlerMayAddHandlersWhileItsListRuns) {
  constexpr hooking::host_address site = 0x404600;
  make_traced_site(site);
  auto& h = hub<site>();
  h.add_handler(h.after, [&h] {
    trace.push_back("adder");
    for (int i = 0; i < 20; ++i) h.add_handler(h.after, [] {});
  });
  test::run_site(site);
  EXPECT_EQ(h.after.size(), 21u);
  EXPECT_EQ(trace.front(), "game");
}

TEST_F(EventHubTest, SiteOfAnotherBuildIsNotPatched) {
  constexpr hooking::host_address site = 0x404700;
  make_traced_site(site);
  const bytes original = test::site_bytes(site);
  // This process runs as 1001; a hub listing its site for 1002 only.
  events::BaseEventI<patch::function_hooker, events::RefList<events::Ref<site, hooking::version_1002>>,
                     events::ArgPick<events::ArgTypes<>>, void()>
      other_build;
  other_build.add_handler(other_build.after, &note_a);
  EXPECT_TRUE(other_build.patched);
  EXPECT_EQ(test::site_bytes(site), original);
  test::run_site(site);
  EXPECT_EQ(trace, (std::vector<std::string>{"game"}));
}

bytes real_site_bytes(hooking::host_address site) { return test::site_bytes(site); }

void add_handlers_to_the_three_events() {
  events::start_up_event().add_handler(events::start_up_event().after, &note_a);
  events::drawing_event().add_handler(events::drawing_event().after, &note_a);
  events::shutdown_event().add_handler(events::shutdown_event().before, &note_a);
}

TEST(GameEventsTest, UnservedBuildsLeaveAllThreeSitesUntouchedAndRunNoHandler) {
  for (std::uint32_t id : {0u, 1011u, 1101u, 1111u, 3200u, 3210u}) {
    IN_FRESH_PROCESS({
      sim::host_world& world = sim::host_world::get();
      ASSERT_TRUE(world.lay_out(id));
      const bytes s = real_site_bytes(host::addr::start_up_site);
      const bytes d = real_site_bytes(host::addr::drawing_site);
      const bytes x = real_site_bytes(host::addr::shutdown_site);
      add_handlers_to_the_three_events();
      EXPECT_EQ(hooking::host_version(), id);
      EXPECT_EQ(real_site_bytes(host::addr::start_up_site), s);
      EXPECT_EQ(real_site_bytes(host::addr::drawing_site), d);
      EXPECT_EQ(real_site_bytes(host::addr::shutdown_site), x);
      EXPECT_EQ(world.start_up(), reinterpret_cast<void*>(sim::host_world::start_up_result));
      world.draw();
      world.shutdown();
      EXPECT_TRUE(trace.empty());
      EXPECT_EQ(world.game_calls[0] + world.game_calls[1] + world.game_calls[2], 3u);
    });
  }
}

TEST(GameEventsTest, ServedBuildsPatchAllThreeSitesAndKeepTheGamesResults) {
  for (std::uint32_t id : {1001u, 1002u}) {
    IN_FRESH_PROCESS({
      sim::host_world& world = sim::host_world::get();
      ASSERT_TRUE(world.lay_out(id));
      add_handlers_to_the_three_events();
      EXPECT_EQ(world.start_up(), reinterpret_cast<void*>(sim::host_world::start_up_result));
      EXPECT_EQ(world.draw(), reinterpret_cast<void*>(sim::host_world::drawing_result));
      EXPECT_EQ(world.shutdown(), reinterpret_cast<void*>(sim::host_world::shutdown_result));
      EXPECT_EQ(trace, (std::vector<std::string>{"a", "a", "a"}));
      EXPECT_EQ(world.game_calls[0] + world.game_calls[1] + world.game_calls[2], 3u);
    });
  }
}

// Checked from an exit handler registered before the hubs exist, so it runs
// after they and their hooks are gone.
bytes original_sites[3];
void check_sites_after_exit() {
  const hooking::host_address sites[3] = {host::addr::start_up_site, host::addr::drawing_site,
                                          host::addr::shutdown_site};
  bool ok = true;
  for (int i = 0; i < 3; ++i) {
    if (real_site_bytes(sites[i]) != original_sites[i]) {
      std::fprintf(stderr, "site 0x%X not restored at exit\n", sites[i]);
      ok = false;
    }
  }
  // Restored in the reverse order of patching: shutdown, drawing, start-up.
  std::vector<std::uintptr_t> flushed;
  const os::seam_control& c = os::control();
  for (std::size_t i = 0; i < c.record_count; ++i) {
    if (c.records[i].what == os::call::flush_instruction_cache && c.records[i].size == 5) {
      flushed.push_back(c.records[i].address);
    }
  }
  const std::vector<std::uintptr_t> expected = {host::addr::shutdown_site, host::addr::drawing_site,
                                                host::addr::start_up_site};
  if (flushed != expected) {
    std::fprintf(stderr, "sites restored in the wrong order (%zu restores)\n", flushed.size());
    ok = false;
  }
  if (!ok) _exit(3);
}

TEST(GameEventsTest, AtExitEverySiteGetsItsOriginalBytesBackShutdownFirst) {
  IN_FRESH_PROCESS({
    ASSERT_TRUE(sim::host_world::get().lay_out(hooking::version_1001));
    original_sites[0] = real_site_bytes(host::addr::start_up_site);
    original_sites[1] = real_site_bytes(host::addr::drawing_site);
    original_sites[2] = real_site_bytes(host::addr::shutdown_site);
    os::control();
    std::atexit(&check_sites_after_exit);
    add_handlers_to_the_three_events();
    EXPECT_NE(real_site_bytes(host::addr::drawing_site), original_sites[1]);
    os::control().recording = true;
  });
}

}  // namespace
