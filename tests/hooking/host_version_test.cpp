#include <gtest/gtest.h>

#include "sim/game_image.h"
#include "hooking/host_version.h"
#include "host/host_services.h"
#include "sim/host_world.h"
#include "platform/os.h"
#include "sim/seam_control.h"
#include "sim/os_linux.h"
#include "tests/support/fresh_process.h"
#include "tests/support/test_sites.h"

namespace {

using hooking::host_version;
using sim::game_image;

void clear_probes() {
  for (const hooking::version_probe& p : hooking::version_probes) game_image::get().write_word(p.address, 0);
}

class HostVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensure_image();
    os::reset_control();
  }
  void TearDown() override {
    os::reset_control();
    clear_probes();
    game_image::get().write_probe(hooking::version_1001);
  }
};

TEST_F(HostVersionTest, EachProbeWordGivesItsId) {
  for (const hooking::version_probe& probe : hooking::version_probes) {
    clear_probes();
    game_image::get().write_word(probe.address, probe.expected);
    EXPECT_EQ(hooking::detect_host_version(), probe.id) << "probe at 0x" << std::hex << probe.address;
  }
}

TEST_F(HostVersionTest, ProbeBytesLieInMemoryAsTheGameHoldsThem) {
  clear_probes();
  const std::uint8_t v1001[] = {0x55, 0x8B, 0xEC, 0x53};
  game_image::get().write(0x401000, v1001, 4);
  EXPECT_EQ(hooking::detect_host_version(), 1001u);
  const std::uint8_t v3210[] = {0x33, 0xF6, 0x39, 0x35};
  clear_probes();
  game_image::get().write(0x858C61, v3210, 4);
  EXPECT_EQ(hooking::detect_host_version(), 3210u);
}

TEST_F(HostVersionTest, Build1001DecidesWithoutReadingAnyOtherProbe) {
  clear_probes();
  game_image::get().write_probe(hooking::version_1001);
  os::control().recording = true;
  EXPECT_EQ(hooking::detect_host_version(), 1001u);
  os::control().recording = false;
  const std::uintptr_t probe = game_image::get().base() + 0x1000;
  ASSERT_EQ(os::call_count(os::call::virtual_protect), 2u);  // change and put back
  for (std::size_t i = 0; i < os::control().record_count; ++i) {
    if (os::control().records[i].what != os::call::virtual_protect) continue;
    EXPECT_EQ(os::control().records[i].address, probe);
    EXPECT_EQ(os::control().records[i].size, 4u);
  }
}

TEST_F(HostVersionTest, NoMatchingProbeGivesZero) {
  clear_probes();
  game_image::get().write_word(0x401000, 0x53EC8B56);
  EXPECT_EQ(hooking::detect_host_version(), 0u);
}

TEST_F(HostVersionTest, ProbeWhoseProtectionCannotBeChangedIsNotReadAndDoesNotMatch) {
  clear_probes();
  game_image::get().write_probe(hooking::version_1001);
  game_image::get().write_word(0x8245BC, 0x000094BF);  // a 1011 word further down
  const std::uintptr_t probe = game_image::get().base() + 0x1000;
  os::control().fail_protect_begin = probe;
  os::control().fail_protect_end = probe + 4;
  EXPECT_EQ(hooking::detect_host_version(), 1011u);
  EXPECT_EQ(hooking::read_host_word(0x401000), 0u);
}

TEST_F(HostVersionTest, ImageThatDoesNotReachTheProbesGivesZeroWithoutFaulting) {
  IN_FRESH_PROCESS({
    // A base whose probe addresses are not mapped at all.
    os::linux_host::set_main_module(reinterpret_cast<os::module_handle>(0x10000000));
    EXPECT_EQ(host_version(), 0u);
  });
}

TEST_F(HostVersionTest, UnrecognisedBuildGivesZeroAndEveryReferenceHoldsBaseLessPreferredBase) {
  IN_FRESH_PROCESS({
    ASSERT_TRUE(sim::host_world::get().lay_out(0));
    EXPECT_EQ(host_version(), 0u);
    EXPECT_EQ(host::references().load_txd.address(), 0u);
    EXPECT_EQ(host::references().camera.address(), 0u);
    EXPECT_EQ(host::references().current_area.address(), 0u);
  });
}

TEST_F(HostVersionTest, ImageOneMegabyteHigherMovesProbesAndReferencesByThatMuch) {
  IN_FRESH_PROCESS({
    constexpr std::uintptr_t base = 0x500000;
    os::linux_host::set_main_module(reinterpret_cast<os::module_handle>(base));
    ASSERT_TRUE(sim::host_world::get().lay_out(hooking::version_1002, base));
    EXPECT_EQ(host_version(), 1002u);
    EXPECT_EQ(hooking::resolve_host_address(0x401000), 0x501000u);
    EXPECT_EQ(host::references().load_txd.address(), 0x5B3860u + 0x100000u);
    EXPECT_EQ(host::references().camera.address(), 0xB6F028u + 0x100000u);
    EXPECT_EQ(host::references().current_area.address(), 0xB72914u + 0x100000u);
  });
}

TEST_F(HostVersionTest, UnrecognisedBuildOffThePreferredBaseLeavesReferencesAtBaseLessPreferredBase) {
  IN_FRESH_PROCESS({
    constexpr std::uintptr_t base = 0x500000;
    os::linux_host::set_main_module(reinterpret_cast<os::module_handle>(base));
    ASSERT_TRUE(sim::host_world::get().lay_out(0, base));
    EXPECT_EQ(host::references().camera.address(), base - 0x400000);
  });
}

TEST_F(HostVersionTest, VersionIsDetectedOnceAndCached) {
  IN_FRESH_PROCESS({
    ASSERT_TRUE(sim::host_world::get().lay_out(hooking::version_1001));
    EXPECT_EQ(host_version(), 1001u);
    game_image::get().write_probe(hooking::version_1002);
    os::reset_control();
    EXPECT_EQ(host_version(), 1001u);
    EXPECT_EQ(os::call_count(os::call::virtual_protect), 0u);
    EXPECT_EQ(hooking::detect_host_version(), 1002u);
  });
}

TEST_F(HostVersionTest, ModuleBaseIsAskedOnce) {
  IN_FRESH_PROCESS({
    os::reset_control();
    hooking::host_module_base();
    hooking::resolve_host_address(0x401000);
    EXPECT_EQ(os::call_count(os::call::get_module_handle), 1u);
  });
}

TEST_F(HostVersionTest, AddressByVersionPicksTheRunningBuildsArgument) {
  IN_FRESH_PROCESS({
    ASSERT_TRUE(sim::host_world::get().lay_out(hooking::version_3200));
    EXPECT_EQ(hooking::address_by_version(1, 2, 3, 4, 5, 6, 7), 6u);
  });
  IN_FRESH_PROCESS({
    ASSERT_TRUE(sim::host_world::get().lay_out(0));
    EXPECT_EQ(hooking::address_by_version(1, 2, 3, 4, 5, 6, 7), 0u);
  });
}

TEST(HostAddressTest, ResolutionWrapsInThirtyTwoBits) {
  // The module base is the preferred one here, so a host address resolves to itself;
  // an address below the base wraps like the game's own arithmetic.
  EXPECT_EQ(hooking::resolve_host_address(0x5B3860), 0x5B3860u);
  EXPECT_EQ(hooking::resolve_host_address(0), 0u);
}

}  // namespace
