#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/game_image.h"
#include "hooking/patch/hooking.h"
#include "platform/os.h"
#include "sim/seam_control.h"
#include "sim/site_function.h"
#include "tests/support/test_sites.h"

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
  os::set_failing(os::call::query_protection, true);  // nothing committed there
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

// The instruction is never half written: one protection change over all its
// bytes, NOP included, and one flush.
TEST_F(CodePatchTest, WriteCallWritesTheWholeInstructionUnderOneChangeAndFlushesOnce) {
  for (std::size_t length : {5u, 6u}) {
    put({0xFF, 0x15, 0, 0, 0, 0});
    os::reset_control();
    os::control().recording = true;
    bool written = false;
    patch::write_call(x, x + 0x40, length, &written);
    os::control().recording = false;
    EXPECT_TRUE(written);
    std::vector<std::pair<std::uintptr_t, std::size_t>> flushes, opened;
    for (std::size_t i = 0; i < os::control().record_count; ++i) {
      const os::call_record& r = os::control().records[i];
      if (r.what == os::call::flush_instruction_cache) flushes.emplace_back(r.address, r.size);
      if (r.what == os::call::virtual_protect) opened.emplace_back(r.address, r.size);
    }
    const std::vector<std::pair<std::uintptr_t, std::size_t>> once = {{x, length}};
    const std::vector<std::pair<std::uintptr_t, std::size_t>> open_and_back = {{x, length}, {x, length}};
    EXPECT_EQ(flushes, once);
    EXPECT_EQ(opened, open_and_back);
    EXPECT_EQ(test::site_bytes(site, 6)[5], length == 6 ? 0x90 : 0);
  }
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

// The protections of the pages around address, as the system reports them.
std::string page_protections(std::uintptr_t first, std::uintptr_t last) {
  std::string out;
  for (std::uintptr_t p = first & ~0xFFFu; p <= last; p += 0x1000) {
    std::uint32_t protection = 0;
    os::query_protection(reinterpret_cast<const void*>(p), &protection);
    out += std::to_string(protection) + " ";
  }
  return out;
}

// Reads open nothing that can be read already; a write across the end of the
// code (read-execute, then read-write) gives each page its own protection back.
TEST_F(CodePatchTest, GuardedCopiesPutEachPagesOwnProtectionBack) {
  std::uint8_t out[5];
  ASSERT_TRUE(patch::read_code_bytes(x, out, 5, true));
  EXPECT_EQ(os::call_count(os::call::virtual_protect), 0u);

  const std::uintptr_t across = reinterpret_cast<std::uintptr_t>(game_image::get().at(sim::code_end - 3));
  const std::string before = page_protections(across, across + 5);
  ASSERT_EQ(before, std::to_string(os::page_execute_read) + " " + std::to_string(os::page_readwrite) + " ");
  const std::uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(patch::write_code_bytes(across, bytes, 6, true));
  EXPECT_EQ(page_protections(across, across + 5), before);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(across), bytes, 6), 0);
  *game_image::get().at(sim::code_end) = 0;  // the data page is still writable
}

// A page that can be read but not opened for writing (a read-only mapping)
// is read as it is.
TEST_F(CodePatchTest, ReadOnlyPageIsReadWithoutAskingForWriteAccess) {
  put({0xE8, 0x10, 0x00, 0x00, 0x00});
  os::control().fail_protect_begin = x;
  os::control().fail_protect_end = x + 5;
  EXPECT_EQ(patch::call_target_at(x), x + 0x15);
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
  os::set_failing(os::call::query_protection, true);
  os::set_failing(os::call::virtual_protect, true);
  patch.save(x, 5, true);
  os::reset_control();
  EXPECT_FALSE(patch.has_saved());
  put({0x90, 0x90, 0x90, 0x90, 0x90});
  patch.restore();
  EXPECT_EQ(test::site_bytes(site, 5), (std::vector<std::uint8_t>{0x90, 0x90, 0x90, 0x90, 0x90}));
}

}  // namespace
