#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/game_image.h"
#include "hooking/patch/hooking.h"
#include "platform/os.h"
#include "sim/seam_control.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/fresh_process.h"
#include "sim/foreign_patch.h"
#include "sim/site_function.h"
#include "tests/support/test_sites.h"

namespace {

using sim::game_image;
using bytes = std::vector<std::uint8_t>;

template <hooking::host_address Site>
using hooker = patch::function_hooker<patch::scoped_call, Site, void*()>;

template <hooking::host_address Site>
using manager = typename hooker<Site>::manager_type;

std::vector<std::string> trace;

// A hook that notes its name, then lets the earlier hooks and the game run.
template <class H>
void install_tracing(H& h, const std::string& name) {
  h.install([name](const typename H::next_type& next) {
    trace.push_back(name);
    return next();
  });
}

void* game_result() { return reinterpret_cast<void*>(test::game_result); }

class CallHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensure_image();
    os::reset_control();
    trace.clear();
    test::game_function_calls = 0;
  }
  void TearDown() override { os::reset_control(); }
};

TEST_F(CallHookTest, ThreeHooksRunLastRegisteredFirstAndTheResultTravelsBack) {
  constexpr hooking::host_address site = 0x402000;
  test::make_site(site);
  const bytes original = test::site_bytes(site);
  EXPECT_EQ(test::run_site(site), game_result());
  EXPECT_TRUE(trace.empty());
  {
    hooker<site> h1, h2, h3;
    install_tracing(h1, "h1");
    install_tracing(h2, "h2");
    install_tracing(h3, "h3");
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(trace, (std::vector<std::string>{"h3", "h2", "h1"}));
    EXPECT_EQ(test::game_function_calls, 2u);
  }
  EXPECT_EQ(test::site_bytes(site), original);
  trace.clear();
  EXPECT_EQ(test::run_site(site), game_result());
  EXPECT_TRUE(trace.empty());
}

TEST_F(CallHookTest, HookSeesAndMayChangeWhatTheEarlierHooksReturn) {
  constexpr hooking::host_address site = 0x402100;
  test::make_site(site);
  hooker<site> inner, outer;
  inner.install([](const hooker<site>::next_type& next) {
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(next()) + 1);
  });
  outer.install([](const hooker<site>::next_type& next) {
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(next()) * 2);
  });
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(test::run_site(site)), (test::game_result + 1) * 2);
}

TEST_F(CallHookTest, HookThatDoesNotCallNextKeepsTheGameFromRunning) {
  constexpr hooking::host_address site = 0x402200;
  test::make_site(site);
  hooker<site> h;
  h.install([](const hooker<site>::next_type&) { return reinterpret_cast<void*>(7); });
  EXPECT_EQ(test::run_site(site), reinterpret_cast<void*>(7));
  EXPECT_EQ(test::game_function_calls, 0u);
}

TEST_F(CallHookTest, FirstHookPatchesTheSiteWithACallOfItsEntry) {
  constexpr hooking::host_address site = 0x402300;
  const std::uintptr_t x = test::make_site(site);
  hooker<site> h;
  install_tracing(h, "h");
  EXPECT_TRUE(h.is_hooked());
  EXPECT_EQ(patch::call_target_at(x), reinterpret_cast<std::uintptr_t>(&manager<site>::call_hooks));
  EXPECT_EQ(test::site_bytes(site)[5], 0x81);  // the check after the call is untouched
}

TEST_F(CallHookTest, ReRegisteringReplacesInPlaceWithoutPatchingAgain) {
  constexpr hooking::host_address site = 0x402400;
  test::make_site(site);
  hooker<site> h1, h2;
  install_tracing(h1, "h1");
  install_tracing(h2, "h2");
  os::reset_control();
  install_tracing(h1, "h1 again");
  EXPECT_EQ(os::call_count(os::call::virtual_protect), 0u);
  test::run_site(site);
  EXPECT_EQ(trace, (std::vector<std::string>{"h2", "h1 again"}));
  EXPECT_EQ(h1.is_hooked(), true);
}

TEST_F(CallHookTest, RemovingOneOfSeveralKeepsTheSitePatchedAndTheLastRestoresIt) {
  constexpr hooking::host_address site = 0x402500;
  const std::uintptr_t x = test::make_site(site);
  const bytes original = test::site_bytes(site);
  hooker<site> h1, h2;
  install_tracing(h1, "h1");
  install_tracing(h2, "h2");
  h2.restore();
  EXPECT_FALSE(h2.is_hooked());
  EXPECT_EQ(patch::call_target_at(x), reinterpret_cast<std::uintptr_t>(&manager<site>::call_hooks));
  test::run_site(site);
  EXPECT_EQ(trace, (std::vector<std::string>{"h1"}));
  h1.restore();
  EXPECT_EQ(test::site_bytes(site), original);
}

TEST_F(CallHookTest, UnhookingOutOfOrderKeepsTheRemainingChainIntact) {
  constexpr hooking::host_address site = 0x402600;
  test::make_site(site);
  const bytes original = test::site_bytes(site);
  hooker<site> h1, h2, h3;
  install_tracing(h1, "h1");
  install_tracing(h2, "h2");
  install_tracing(h3, "h3");
  h1.restore();
  EXPECT_EQ(test::run_site(site), game_result());
  EXPECT_EQ(trace, (std::vector<std::string>{"h3", "h2"}));
  trace.clear();
  h3.restore();
  EXPECT_EQ(test::run_site(site), game_result());
  EXPECT_EQ(trace, (std::vector<std::string>{"h2"}));
  h2.restore();
  EXPECT_EQ(test::site_bytes(site), original);
  EXPECT_EQ(test::run_site(site), game_result());
}

TEST_F(CallHookTest, MovingAnInstalledHookKeepsTheSitePatchedAndPutsItsEntryLast) {
  constexpr hooking::host_address site = 0x402700;
  const std::uintptr_t x = test::make_site(site);
  const bytes original = test::site_bytes(site);
  {
    hooker<site> h2;
    std::list<hooker<site>> store;
    {
      hooker<site> h1;
      install_tracing(h1, "h1");
      install_tracing(h2, "h2");
      store.push_back(std::move(h1));
    }  // the moved-from hook is gone, the site stays patched
    EXPECT_EQ(patch::call_target_at(x), reinterpret_cast<std::uintptr_t>(&manager<site>::call_hooks));
    EXPECT_TRUE(store.front().is_hooked());
    test::run_site(site);
    EXPECT_EQ(trace, (std::vector<std::string>{"h1", "h2"}));
    const auto& entries = manager<site>::instance()->entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.back().first, &store.front());
  }
  EXPECT_EQ(test::site_bytes(site), original);
}

TEST_F(CallHookTest, ManagerRestoreRemovesEveryHookAndLaterRemovalsOnlyClearTheirFlags) {
  constexpr hooking::host_address site = 0x402800;
  test::make_site(site);
  const bytes original = test::site_bytes(site);
  hooker<site> h1, h2;
  install_tracing(h1, "h1");
  install_tracing(h2, "h2");
  manager<site>::instance()->restore();
  EXPECT_EQ(test::site_bytes(site), original);
  EXPECT_TRUE(h1.is_hooked());  // not told
  const bytes other = {0x90, 0x90, 0x90, 0x90, 0x90, 0xC3};
  game_image::get().write(site, other.data(), other.size());
  h1.restore();
  EXPECT_FALSE(h1.is_hooked());
  EXPECT_EQ(test::site_bytes(site), other);
  // With no entries the entry calls the saved callee directly.
  EXPECT_EQ(manager<site>::call_hooks(), game_result());
  EXPECT_TRUE(trace.empty());
}

TEST_F(CallHookTest, HookingAgainAfterFullRemovalSavesTheBytesAnew) {
  constexpr hooking::host_address site = 0x402900;
  test::make_site(site);
  {
    hooker<site> h;
    install_tracing(h, "first");
  }
  test::game_function_calls = 0;
  const bytes original = test::site_bytes(site);
  {
    hooker<site> h;
    install_tracing(h, "second");
    EXPECT_EQ(test::run_site(site), game_result());
  }
  EXPECT_EQ(trace, (std::vector<std::string>{"second"}));
  EXPECT_EQ(test::site_bytes(site), original);
}

TEST_F(CallHookTest, SiteAnotherModuleTookWithACallIsChainedToAndGetsAllItsBytesBack) {
  constexpr hooking::host_address site = 0x402A00;
  for (sim::foreign_form form : {sim::foreign_form::call_relative, sim::foreign_form::call_indirect}) {
    SCOPED_TRACE(sim::foreign_form_name(form));
    const std::uintptr_t x = test::make_site(site, 6);
    ASSERT_TRUE(sim::foreign_module::get().patch(site, form, reinterpret_cast<const void*>(&test::game_function)));
    const bytes theirs = sim::site_function::bytes(site);
    trace.clear();
    test::game_function_calls = 0;
    {
      hooker<site> h;
      install_tracing(h, "ours");
      ASSERT_TRUE(manager<site>::instance()->is_hooked());
      EXPECT_EQ(patch::call_target_at(x), reinterpret_cast<std::uintptr_t>(&manager<site>::call_hooks));
      // A 6-byte instruction becomes our CALL and a NOP, so that no byte of
      // the old pointer runs as an instruction of its own.
      if (patch::branch_length(form) == 6) {
        EXPECT_EQ(test::site_bytes(site)[5], 0x90);
      }
      EXPECT_EQ(test::run_site(site), game_result());
      EXPECT_EQ(test::run_site(site), game_result());
      EXPECT_EQ(trace, (std::vector<std::string>{"ours", "ours"}));
      EXPECT_EQ(sim::foreign_module::get().runs(site), 2u);
      EXPECT_EQ(test::game_function_calls, 2u);
    }
    EXPECT_EQ(sim::site_function::bytes(site), theirs);
  }
}

TEST_F(CallHookTest, SiteAnotherModuleRedirectedWithAJumpIsLeftAlone) {
  constexpr hooking::host_address site = 0x402B00;
  for (sim::foreign_form form : {sim::foreign_form::jump_relative, sim::foreign_form::jump_indirect}) {
    SCOPED_TRACE(sim::foreign_form_name(form));
    test::make_site(site, 6);
    ASSERT_TRUE(sim::foreign_module::get().patch(site, form, reinterpret_cast<const void*>(&test::game_function)));
    const bytes theirs = sim::site_function::bytes(site);
    trace.clear();
    test::game_function_calls = 0;
    hooker<site> h;
    install_tracing(h, "never");
    EXPECT_FALSE(manager<site>::instance()->is_hooked());
    EXPECT_EQ(sim::site_function::bytes(site), theirs);
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(sim::foreign_module::get().runs(site), 1u);
    EXPECT_EQ(test::game_function_calls, 1u);
  }
}

TEST_F(CallHookTest, PointerOfAnIndirectCallIsReadUnderTheGuardAndAnUnreadableOneLeavesTheSite) {
  constexpr hooking::host_address site = 0x402C00;
  test::make_site(site, 6);
  // A pointer into memory nobody mapped: reading it unguarded would fault at load.
  bytes indirect = {0xFF, 0x15, 0x00, 0x10, 0x00, 0x00};
  sim::site_function::write(site, indirect.data(), indirect.size());
  const bytes theirs = sim::site_function::bytes(site);
  hooker<site> h;
  install_tracing(h, "never");
  EXPECT_FALSE(manager<site>::instance()->is_hooked());
  EXPECT_EQ(sim::site_function::bytes(site), theirs);
}

TEST_F(CallHookTest, SiteWithoutARecognisedCallIsLeftUntouched) {
  constexpr hooking::host_address site = 0x403000;
  const bytes nops = {0x90, 0x90, 0x90, 0x90, 0x90, 0xC3};
  game_image::get().write(site, nops.data(), nops.size());
  hooker<site> h;
  install_tracing(h, "never");
  EXPECT_FALSE(manager<site>::instance()->is_hooked());
  EXPECT_EQ(test::site_bytes(site), nops);
}

TEST_F(CallHookTest, SiteWhoseProtectionCannotBeChangedIsLeftUntouched) {
  constexpr hooking::host_address site = 0x403100;
  const std::uintptr_t x = test::make_site(site);
  const bytes original = test::site_bytes(site);
  hooker<site> h;
  os::control().fail_protect_begin = x;
  os::control().fail_protect_end = x + 5;
  install_tracing(h, "never");
  os::control().fail_protect_begin = os::control().fail_protect_end = 0;
  EXPECT_FALSE(manager<site>::instance()->is_hooked());
  EXPECT_EQ(test::site_bytes(site), original);
  EXPECT_EQ(test::run_site(site), game_result());
}

TEST_F(CallHookTest, ThrowingHookDoesNotUnwindIntoTheGameAndTheGameRunsOnce) {
  constexpr hooking::host_address site = 0x403200;
  test::make_site(site);
  {
    hooker<site> h;
    h.install([](const hooker<site>::next_type&) -> void* { throw std::runtime_error("before the game"); });
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(test::game_function_calls, 1u);
  }
  {
    hooker<site> inner, outer;
    install_tracing(inner, "inner");
    outer.install([](const hooker<site>::next_type& next) -> void* {
      next();
      throw std::runtime_error("after the game");
    });
    test::game_function_calls = 0;
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(test::game_function_calls, 1u);
  }
}

TEST_F(CallHookTest, OneHookAllocatesNothingPerCall) {
  constexpr hooking::host_address site = 0x403300;
  test::make_site(site);
  hooker<site> h;
  h.install([](const hooker<site>::next_type& next) { return next(); });
  test::run_site(site);
  const test::allocation_scope scope;
  for (int i = 0; i < 100; ++i) test::run_site(site);
  EXPECT_EQ(scope.count(), 0u);
}

TEST_F(CallHookTest, TwoIndependentFrameworkCopiesHookOneSiteAndUnwindToTheOriginal) {
  constexpr hooking::host_address site = 0x401F00;  // the copy's site
  test::make_site(site);
  const bytes original = test::site_bytes(site);
  void* copy = dlopen(FRAMEWORK_COPY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(copy, nullptr) << dlerror();
  auto copy_install = reinterpret_cast<void (*)()>(dlsym(copy, "framework_copy_install"));
  auto copy_remove = reinterpret_cast<void (*)()>(dlsym(copy, "framework_copy_remove"));
  auto copy_runs = reinterpret_cast<unsigned (*)()>(dlsym(copy, "framework_copy_runs"));
  ASSERT_TRUE(copy_install && copy_remove && copy_runs);
  {
    hooker<site> ours;
    install_tracing(ours, "ours");
    copy_install();
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(copy_runs(), 1u);
    EXPECT_EQ(trace, (std::vector<std::string>{"ours"}));
    EXPECT_EQ(test::game_function_calls, 1u);
    copy_remove();  // the later one first
    EXPECT_EQ(patch::call_target_at(reinterpret_cast<std::uintptr_t>(game_image::get().at(site))),
              reinterpret_cast<std::uintptr_t>(&manager<site>::call_hooks));
  }
  EXPECT_EQ(test::site_bytes(site), original);
  dlclose(copy);
}

// Another module hooked the site after us and chains to our entry. We leave
// first: our restore finds its bytes and leaves them, our code stays mapped
// (pinned when our entry saw the site taken), and every module that goes
// later still reaches the game's function through us.
TEST_F(CallHookTest, UnloadOutOfOrderLeavesTheLaterModuleRunningAndNothingCallsFreedCode) {
  IN_FRESH_PROCESS({
    constexpr hooking::host_address site = 0x401F00;  // the copy's site
    test::make_site(site);
    void* copy = dlopen(FRAMEWORK_COPY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(copy, nullptr) << dlerror();
    auto copy_install = reinterpret_cast<void (*)()>(dlsym(copy, "framework_copy_install"));
    auto copy_remove = reinterpret_cast<void (*)()>(dlsym(copy, "framework_copy_remove"));
    auto copy_runs = reinterpret_cast<unsigned (*)()>(dlsym(copy, "framework_copy_runs"));
    auto* ours = new hooker<site>;
    install_tracing(*ours, "ours");
    copy_install();
    const bytes theirs = test::site_bytes(site);
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(os::call_count(os::call::pin_module), 1u);  // our entry saw the site taken
    delete ours;
    EXPECT_EQ(manager<site>::instance()->last_restore_outcome(), patch::restore_outcome::not_ours);
    EXPECT_EQ(test::site_bytes(site), theirs);
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(copy_runs(), 2u);
    EXPECT_EQ(trace, (std::vector<std::string>{"ours"}));
    copy_remove();
    dlclose(copy);
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(test::game_function_calls, 3u);
    // Hooked again later: it must not chain to a site that leads back to itself.
    hooker<site> again;
    install_tracing(again, "again");
    EXPECT_NE(again.install_outcome(), patch::patch_outcome::hooked);
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(test::game_function_calls, 4u);
  });
}

unsigned other_calls = 0;
void* HOST_ENTRY other_function() {
  ++other_calls;
  return reinterpret_cast<void*>(test::game_result);
}

// A CALL through a pointer cell goes wherever the cell points on each pass,
// as the game's own instruction would, also when another module repoints it;
// a cell in a read-only page is read as it is.
TEST_F(CallHookTest, CallThroughACellFollowsTheCellOnEveryPass) {
  constexpr hooking::host_address site = 0x403400, cell = 0xB00100;
  test::make_site(site, 6);
  game_image::get().write_word(cell, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&test::game_function)));
  std::uint8_t call_through[6] = {0xFF, 0x15};
  const std::uint32_t cell_at = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(game_image::get().at(cell)));
  std::memcpy(call_through + 2, &cell_at, 4);
  game_image::get().write(site, call_through, 6);
  {
    // The cell lies in a page that can be read but not opened for writing.
    os::control().fail_protect_begin = cell_at;
    os::control().fail_protect_end = cell_at + 4;
    hooker<site> h;
    install_tracing(h, "h");
    os::control().fail_protect_begin = os::control().fail_protect_end = 0;
    EXPECT_EQ(h.install_outcome(), patch::patch_outcome::hooked);
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(test::game_function_calls, 1u);
    game_image::get().write_word(cell, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&other_function)));
    EXPECT_EQ(test::run_site(site), game_result());
    EXPECT_EQ(other_calls, 1u);
    EXPECT_EQ(test::game_function_calls, 1u);
    EXPECT_EQ(trace, (std::vector<std::string>{"h", "h"}));
  }
  EXPECT_EQ(test::site_bytes(site), bytes(call_through, call_through + 6));
}

}  // namespace
