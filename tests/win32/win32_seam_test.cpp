// The Win32 side of the platform seam and of the code that stands on it,
// run under Wine against the real system calls.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hooking/patch/hooking.h"
#include "hooking/plugin_folder.h"
#include "platform/os.h"
#include "sim/seam_control.h"

namespace {

class Win32SeamTest : public ::testing::Test {
 protected:
  void SetUp() override { os::reset_control(); }
  void TearDown() override { os::reset_control(); }
};

TEST_F(Win32SeamTest, ProtectionChangeReportsTheOldProtection) {
  void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  ASSERT_NE(page, nullptr);
  std::uint32_t old = 0;
  ASSERT_TRUE(os::virtual_protect(page, 4, os::page_execute_readwrite, &old));
  EXPECT_EQ(old, static_cast<std::uint32_t>(PAGE_READONLY));
  static_cast<volatile char*>(page)[0] = 1;
  VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(Win32SeamTest, CodeWriteIntoReadOnlyMemoryGoesThroughAndPutsTheProtectionBack) {
  auto* page = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READ));
  ASSERT_NE(page, nullptr);
  const auto at = reinterpret_cast<std::uintptr_t>(page);
  EXPECT_EQ(patch::write_call(at, at + 0x100), 0u);
  EXPECT_EQ(patch::call_target_at(at), at + 0x100);
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(page, &info, sizeof info);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_EQ(os::call_count(os::call::flush_instruction_cache), 1u);  // one write, one flush
  VirtualFree(page, 0, MEM_RELEASE);
}

// Windows answers one old protection for a range: the first page's. Each
// page must get its own back.
TEST_F(Win32SeamTest, WriteAcrossTwoPagesPutsEachPagesOwnProtectionBack) {
  auto* pages = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READ));
  ASSERT_NE(pages, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(pages + 4096, 4096, PAGE_READWRITE, &old));
  const std::uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(patch::write_code_bytes(reinterpret_cast<std::uintptr_t>(pages + 4093), bytes, 6, true));
  EXPECT_EQ(std::memcmp(pages + 4093, bytes, 6), 0);
  MEMORY_BASIC_INFORMATION first{}, second{};
  VirtualQuery(pages, &first, sizeof first);
  VirtualQuery(pages + 4096, &second, sizeof second);
  EXPECT_EQ(first.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_EQ(second.Protect, static_cast<DWORD>(PAGE_READWRITE));
  pages[4096] = 7;  // still writable
  VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(Win32SeamTest, WriteIsNotAttemptedWhenTheProtectionCannotBeChanged) {
  auto* page = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READ));
  ASSERT_NE(page, nullptr);
  os::set_failing(os::call::virtual_protect, true);
  const std::uint8_t byte = 0xE8;
  // Writing here without the change would fault.
  EXPECT_FALSE(patch::write_code_bytes(reinterpret_cast<std::uintptr_t>(page), &byte, 1, true));
  EXPECT_EQ(page[0], 0u);
  VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(Win32SeamTest, ModuleHandleOfTheProcessIsTheExecutables) {
  EXPECT_EQ(os::get_module_handle(nullptr), GetModuleHandleA(nullptr));
  os::set_failing(os::call::get_module_handle, true);
  EXPECT_EQ(os::get_module_handle(nullptr), nullptr);
}

TEST_F(Win32SeamTest, PluginFolderIsTheFolderOfTheModuleHoldingTheCode) {
  // Here the code lies in this test program, so its folder is the answer.
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string folder = exe;
  folder.erase(folder.find_last_of("\\/") + 1);
  EXPECT_EQ(std::string(hooking::plugin_folder()), folder);
  EXPECT_EQ(std::string(hooking::plugin_relative_path("MorvaHealthRing.log")), folder + "MorvaHealthRing.log");
}

TEST_F(Win32SeamTest, FailingCallsReportFailureWithoutReachingTheSystem) {
  for (os::call c : {os::call::get_module_handle_ex, os::call::get_module_file_name, os::call::message_box,
                     os::call::get_active_window, os::call::flush_instruction_cache}) {
    os::set_failing(c, true);
  }
  os::module_handle handle = reinterpret_cast<os::module_handle>(1);
  EXPECT_FALSE(os::get_module_handle_ex(os::module_from_address, reinterpret_cast<const void*>(&hooking::plugin_folder), &handle));
  char buffer[8] = "x";
  EXPECT_EQ(os::get_module_file_name(nullptr, buffer, sizeof buffer), 0u);
  // A box that would wait for a click on a headless run is never shown.
  EXPECT_EQ(os::message_box(nullptr, "text", "caption", 0x10), 0);
  EXPECT_EQ(os::get_active_window(), nullptr);
  EXPECT_FALSE(os::flush_instruction_cache(buffer, 1));
  EXPECT_EQ(os::call_count(os::call::message_box), 1u);
}

// A file deeper than 259 characters: the wide open with the long-path prefix
// writes, appends and reads it; the narrow open refuses it, as Windows does
// (Wine itself would take it).
TEST_F(Win32SeamTest, WideFilesTakeLongPathsAndTheNarrowOpenStopsAtMaxPath) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  std::wstring folder = std::wstring(temp) + L"morva-seam-" + std::to_wstring(GetCurrentProcessId());
  std::wstring wide = L"\\\\?\\" + folder;
  CreateDirectoryW(wide.c_str(), nullptr);
  for (int i = 0; i < 3; ++i) {
    wide += L"\\" + std::wstring(100, static_cast<wchar_t>(L'a' + i));
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  const std::wstring file = wide + L"\\x.log";
  os::file_handle h = os::open_file_w(file.c_str(), os::file_open::write_new);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(os::write_file(h, "ab", 2));
  os::close_file(h);
  h = os::open_file_w(file.c_str(), os::file_open::append);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(os::write_file(h, "c", 1));
  os::close_file(h);
  char bytes[8] = {};
  std::uint32_t got = 0;
  h = os::open_file_w(file.c_str(), os::file_open::read_existing);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(os::read_file(h, bytes, sizeof bytes, &got));
  os::close_file(h);
  EXPECT_EQ(std::string(bytes, got), "abc");
  EXPECT_EQ(os::path_kind_w(file.c_str()), os::path_kind::file);
  EXPECT_EQ(os::path_kind_w(wide.c_str()), os::path_kind::folder);
  EXPECT_EQ(os::file_facts_w(file.c_str()).size, 3u);
  EXPECT_NE(os::file_facts_w(file.c_str()).write_time, 0u);

  std::string narrow(file.begin() + 4, file.end());  // ASCII, without the prefix
  ASSERT_GT(narrow.size(), 259u);
  EXPECT_EQ(os::open_file(narrow.c_str(), os::file_open::read_existing), nullptr);
  EXPECT_EQ(os::open_file(("\\\\?\\" + narrow).c_str(), os::file_open::read_existing), nullptr);
  DeleteFileW(file.c_str());
}

// File names as Windows compares them: letters of any script in either case.
TEST_F(Win32SeamTest, FileNamesCompareWithoutRegardToLetterCase) {
  EXPECT_TRUE(os::same_file_name(L"C:\\\x0418\x0433\x0440\x044B\\GTA", L"c:\\\x0438\x0433\x0440\x044B\\gta", 11));
  EXPECT_FALSE(os::same_file_name(L"C:\\\x0418\x0433\x0440\x044B", L"C:\\\x0418\x0433\x0440\x0430", 7));
}

}  // namespace
