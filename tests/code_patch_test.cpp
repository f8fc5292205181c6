#include <gtest/gtest.h>

#include <cstring>

#include "game_image.h"
#include "hooking/patch/hooking.h"
#include "platform/os.h"
#include "site_function.h"
#include "support/test_sites.h"

namespace {

using sim::game_image;

constexpr hooking::host_address site = 0x401200;

class CodePatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensure_image();
    os::reset_control();
    x = reinterpret_cast<std::uintptr_t>(game_image::get().at(site));
  }
  void TearDown() override { os::reset_control(); }
  void put(std::initializer_list<std::uint8_t> bytes) {
    std::vector<std::uint8_t> v(bytes);
    game_image::get().write(site, v.data(), v.size());
  }
  std::uintptr_t x = 0;
};

TEST_F(CodePatchTest, CallTargetOfRelativeCallAndJump) {
  put({0xE8, 0x10, 0x00, 0x00, 0x00});
  EXPECT_EQ(patch::call_target_at(x), x + 0x15);
  put({0xE9, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(patch::call_target_at(x), x + 4);
}

TEST_F(CodePatchTest, CallTargetThroughAbsolutePointer) {
  const hooking::host_address slot = 0x401300;
  game_image::get().write_word(slot, 0xCAFE1234);
  const std::uint32_t pointer = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(game_image::get().at(slot)));
  for (std::uint8_t modrm : {0x15, 0x25}) {
    put({0xFF, modrm});
    game_image::get().write_word(site + 2, pointer);
    EXPECT_EQ(patch::call_target_at(x), 0xCAFE1234u) << "FF " << int(modrm);
  }
}

TEST_F(CodePatchTest, CallTargetOfAnythingElseIsNull) {
  put({0x90, 0xE8, 0x00, 0x00, 0x00});
  EXPECT_EQ(patch::call_target_at(x), 0u);
  put({0xFF, 0xD0});  // call eax
  EXPECT_EQ(patch::call_target_at(x), 0u);
}

TEST_F(CodePatchTest, CallTargetOfUnreadableCodeIsNull) {
  put({0xE8, 0x10, 0x00, 0x00, 0x00});
  os::set_failing(os::call::virtual_protect, true);
  EXPECT_EQ(patch::call_target_at(x), 0u);
}

TEST_F(CodePatchTest, WriteCallLeavesARelativeCallAndReturnsThePreviousDestination) {
  put({0xE9, 0x20, 0x00, 0x00, 0x00});
  const std::uintptr_t d = x + 0x1000;
  EXPECT_EQ(patch::write_call(x, d), x + 0x25);
  const std::uint32_t rel = static_cast<std::uint32_t>(d - x - 5);
  const std::vector<std::uint8_t> expected = {0xE8, std::uint8_t(rel), std::uint8_t(rel >> 8), std::uint8_t(rel >> 16),
                                              std::uint8_t(rel >> 24)};
  EXPECT_EQ(test::site_bytes(site, 5), expected);
}

TEST_F(CodePatchTest, WriteCallWritesOneByteThenFourAndFlushesEach) {
  put({0xE8, 0, 0, 0, 0});
  os::control().recording = true;
  patch::write_call(x, x + 0x40);
  os::control().recording = false;
  std::vector<std::pair<std::uintptr_t, std::size_t>> flushes;
  for (std::size_t i = 0; i < os::control().record_count; ++i) {
    const os::call_record& r = os::control().records[i];
    if (r.what == os::call::flush_instruction_cache) flushes.emplace_back(r.address, r.size);
  }
  const std::vector<std::pair<std::uintptr_t, std::size_t>> expected = {{x, 1}, {x + 1, 4}};
  EXPECT_EQ(flushes, expected);
}

TEST_F(CodePatchTest, WriteIsNotAttemptedWhenTheProtectionCannotBeChanged) {
  put({0xE8, 1, 2, 3, 4});
  os::set_failing(os::call::virtual_protect, true);
  const std::uint8_t other[5] = {0x90, 0x90, 0x90, 0x90, 0x90};
  EXPECT_FALSE(patch::write_code_bytes(x, other, 5, true));
  os::set_failing(os::call::virtual_protect, false);
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0xE8, 1, 2, 3, 4}));
  EXPECT_EQ(os::call_count(os::call::flush_instruction_cache), 0u);
}

TEST_F(CodePatchTest, GuardedCopyPutsTheOldProtectionBack) {
  os::control().recording = true;
  std::uint8_t out[5];
  ASSERT_TRUE(patch::read_code_bytes(x, out, 5, true));
  os::control().recording = false;
  ASSERT_EQ(os::call_count(os::call::virtual_protect), 2u);
  EXPECT_EQ(os::control().records[0].address, x);
  EXPECT_EQ(os::control().records[1].address, x);
}

TEST_F(CodePatchTest, UnguardedCopyChangesNoProtection) {
  std::uint8_t out[5];
  ASSERT_TRUE(patch::read_code_bytes(x, out, 5, false));
  EXPECT_EQ(os::call_count(os::call::virtual_protect), 0u);
}

class scoped_five : public patch::scoped_basic<5> {};

TEST_F(CodePatchTest, SavedBytesComeBackOnRestoreAndASecondRestoreDoesNothing) {
  put({0xE8, 1, 2, 3, 4});
  scoped_five patch;
  patch.save(x, 5, true);
  put({0x90, 0x90, 0x90, 0x90, 0x90});
  patch.restore();
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0xE8, 1, 2, 3, 4}));
  put({0xCC, 0xCC, 0xCC, 0xCC, 0xCC});
  patch.restore();
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0xCC, 0xCC, 0xCC, 0xCC, 0xCC}));
}

TEST_F(CodePatchTest, SaveWhileSavedWritesTheEarlierContentBackFirst) {
  put({0xE8, 1, 2, 3, 4});
  scoped_five patch;
  patch.save(x, 5, true);
  put({0x90, 0x90, 0x90, 0x90, 0x90});
  patch.save(x, 5, true);  // puts E8 01 02 03 04 back, then saves it again
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0xE8, 1, 2, 3, 4}));
  put({0xCC, 0xCC, 0xCC, 0xCC, 0xCC});
  patch.restore();
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0xE8, 1, 2, 3, 4}));
}

TEST_F(CodePatchTest, DestructionRestores) {
  put({0xE8, 1, 2, 3, 4});
  {
    scoped_five patch;
    patch.save(x, 5, true);
    put({0x90, 0x90, 0x90, 0x90, 0x90});
  }
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0xE8, 1, 2, 3, 4}));
}

TEST_F(CodePatchTest, UnreadableBytesAreNotRemembered) {
  put({0xE8, 1, 2, 3, 4});
  scoped_five patch;
  os::set_failing(os::call::virtual_protect, true);
  patch.save(x, 5, true);
  os::set_failing(os::call::virtual_protect, false);
  EXPECT_FALSE(patch.has_saved());
  put({0x90, 0x90, 0x90, 0x90, 0x90});
  patch.restore();
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0x90, 0x90, 0x90, 0x90, 0x90}));
}

}  // namespace

namespace {

// As in the game, the code can only be written once VirtualProtect opened it.
TEST(GameImageTest, CodeWrittenWithoutOpeningItFaults) {
  test::ensure_image();
  auto* code = reinterpret_cast<volatile std::uint8_t*>(game_image::get().at(site));
  EXPECT_EQ(*code, *code);  // readable
  EXPECT_DEATH(*code = 0x90, "");
  std::uint8_t* variables = game_image::get().at(host::addr::current_area);
  *variables = *variables;  // the game's variables stay writable
}

// A callee that breaks the calling convention is caught by the game function
// around the site, which still returns to its caller.
TEST(GameImageTest, GameFunctionReportsACalleeThatChangedARegister) {
  test::ensure_image();
  constexpr hooking::host_address callee = 0x405000, at = 0x405100;
  const std::uint8_t clobbers_ebx[] = {0x31, 0xDB, 0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3};  // xor ebx, ebx; mov eax, 7; ret
  game_image::get().write(callee, clobbers_ebx, sizeof clobbers_ebx);
  sim::site_function::write_call(at, game_image::get().at(callee));
  const std::uint32_t before = sim::site_function::mismatches();
  EXPECT_EQ(sim::site_function::run(at), reinterpret_cast<void*>(7));
  EXPECT_EQ(sim::site_function::mismatches(), before + 1);
}

}  // namespace
