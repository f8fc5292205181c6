#include <gtest/gtest.h>
#include <sys/mman.h>

#include "platform/os.h"
#include "sim/seam_control.h"
#include "sim/os_linux.h"

namespace {

class SeamTest : public ::testing::Test {
 protected:
  void SetUp() override { os::reset_control(); }
  void TearDown() override { os::reset_control(); }
};

TEST_F(SeamTest, ProtectionChangeReportsTheOldProtectionAndTakesEffect) {
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  std::uint32_t old = 0;
  ASSERT_TRUE(os::virtual_protect(page, 4, os::page_execute_readwrite, &old));
  EXPECT_EQ(old, os::page_readonly);
  static_cast<volatile char*>(page)[0] = 7;  // writable now
  ASSERT_TRUE(os::virtual_protect(page, 4, old, &old));
  EXPECT_EQ(old, os::page_execute_readwrite);
  munmap(page, 4096);
}

TEST_F(SeamTest, ProtectionChangeOfUnmappedMemoryFails) {
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  munmap(page, 4096);
  std::uint32_t old = 0;
  EXPECT_FALSE(os::virtual_protect(page, 4, os::page_execute_readwrite, &old));
}

TEST_F(SeamTest, EachCallCanBeMadeToFailAndIsCounted) {
  static int local = 0;
  os::set_failing(os::call::virtual_protect, true);
  os::set_failing(os::call::get_module_handle_ex, true);
  os::set_failing(os::call::get_module_file_name, true);
  std::uint32_t old = 0;
  os::module_handle handle = &local;
  char buffer[16] = "unchanged";
  EXPECT_FALSE(os::virtual_protect(&local, 4, os::page_execute_readwrite, &old));
  EXPECT_FALSE(os::get_module_handle_ex(os::module_from_address, &local, &handle));
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(os::get_module_file_name(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_EQ(os::call_count(os::call::virtual_protect), 1u);
  EXPECT_EQ(os::call_count(os::call::get_module_file_name), 1u);
  os::set_failing(os::call::virtual_protect, false);
  EXPECT_TRUE(os::virtual_protect(&local, 4, os::page_readwrite, &old));
  EXPECT_EQ(os::call_count(os::call::virtual_protect), 2u);
}

TEST_F(SeamTest, ModuleFileNameIsCutAndTerminatedLikeWindows) {
  os::linux_host::set_main_file_name("C:\\Games\\gta_sa.exe");
  char buffer[8];
  // Cut, terminated and answered with the buffer's size, as Windows does it.
  EXPECT_EQ(os::get_module_file_name(nullptr, buffer, sizeof buffer), 8u);
  EXPECT_STREQ(buffer, "C:\\Game");
  os::linux_host::set_main_file_name("");
}

TEST_F(SeamTest, MessageBoxesAreRecordedNotShown) {
  os::linux_host::message_boxes().clear();
  EXPECT_EQ(os::message_box(nullptr, "text", "caption", 0x10), 1);
  ASSERT_EQ(os::linux_host::message_boxes().size(), 1u);
  EXPECT_EQ(os::linux_host::message_boxes()[0].caption, "caption");
  os::linux_host::message_boxes().clear();
}

}  // namespace
