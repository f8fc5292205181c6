#include <windows.h>

#include <string>

#include "platform/os.h"
#include "platform/seam_check.h"
#include "platform/os_win32_files.h"

namespace os {

bool virtual_protect(void* address, std::size_t size, std::uint32_t new_protect,
                     std::uint32_t* old_protect) {
  if (detail::enter(call::virtual_protect, reinterpret_cast<std::uintptr_t>(address), size)) {
    return false;
  }
  DWORD old = 0;
  const BOOL ok = VirtualProtect(address, size, new_protect, &old);
  if (old_protect) *old_protect = old;
  return ok != FALSE;
}

bool flush_instruction_cache(const void* address, std::size_t size) {
  if (detail::enter(call::flush_instruction_cache, reinterpret_cast<std::uintptr_t>(address), size)) {
    return false;
  }
  return FlushInstructionCache(GetCurrentProcess(), address, size) != FALSE;
}

bool query_protection(const void* address, std::uint32_t* protection) {
  if (detail::enter(call::query_protection, reinterpret_cast<std::uintptr_t>(address))) return false;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) return false;
  if (protection) *protection = info.Protect;
  return true;
}

bool pin_module(const void* address) {
  if (detail::enter(call::pin_module, reinterpret_cast<std::uintptr_t>(address))) return false;
  HMODULE handle = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            static_cast<LPCWSTR>(address), &handle) != FALSE;
}

std::uint32_t get_environment_variable(const char* name, char* buffer, std::uint32_t size) {
  if (detail::enter(call::environment, 0, size)) return 0;
  return GetEnvironmentVariableA(name, buffer, size);
}

bool set_environment_variable(const char* name, const char* value) {
  if (detail::enter(call::environment)) return false;
  return SetEnvironmentVariableA(name, value) != FALSE;
}

std::uint32_t current_process_id() { return GetCurrentProcessId(); }
std::uint32_t current_thread_id() { return GetCurrentThreadId(); }

bool key_down(int virtual_key) {
  if (detail::enter(call::key_state, static_cast<std::uintptr_t>(virtual_key))) return false;
  return (GetAsyncKeyState(virtual_key) & 0x8000) != 0;
}

bool process_owns_foreground() {
  if (detail::enter(call::key_state)) return false;
  HWND window = GetForegroundWindow();
  if (window == nullptr) return false;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  return owner == GetCurrentProcessId();
}

module_handle get_module_handle(const char* name) {
  if (detail::enter(call::get_module_handle)) return nullptr;
  return GetModuleHandleA(name);
}

bool get_module_handle_ex(std::uint32_t flags, const void* address, module_handle* module) {
  if (detail::enter(call::get_module_handle_ex, reinterpret_cast<std::uintptr_t>(address))) {
    return false;
  }
  HMODULE handle = nullptr;
  const BOOL ok = GetModuleHandleExA(flags, static_cast<LPCSTR>(address), &handle);
  if (module) *module = handle;
  return ok != FALSE;
}

std::uint32_t get_module_file_name(module_handle module, char* buffer, std::uint32_t size) {
  if (detail::enter(call::get_module_file_name, reinterpret_cast<std::uintptr_t>(module), size)) {
    return 0;
  }
  return GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

std::uint32_t get_module_file_name_w(module_handle module, wchar_t* buffer, std::uint32_t size) {
  if (detail::enter(call::get_module_file_name_w, reinterpret_cast<std::uintptr_t>(module), size)) return 0;
  return GetModuleFileNameW(static_cast<HMODULE>(module), buffer, size);
}

std::uint32_t get_short_path_name_w(const wchar_t* path, wchar_t* buffer, std::uint32_t size) {
  if (detail::enter(call::get_short_path_name_w, 0, size)) return 0;
  return GetShortPathNameW(path, buffer, size);
}

bool wide_to_ansi(const wchar_t* text, char* buffer, std::uint32_t size) {
  if (detail::enter(call::wide_to_ansi, 0, size)) return false;
  const int capacity = static_cast<int>(size);
  if (GetACP() == CP_UTF8) {
    // Every character has a UTF-8 form; this code page takes neither flag.
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, capacity, nullptr, nullptr) > 0;
  }
  BOOL lossy = FALSE;
  const int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, buffer, capacity, nullptr, &lossy);
  return written > 0 && !lossy;
}

int message_box(window_handle owner, const char* text, const char* caption, std::uint32_t style) {
  if (detail::enter(call::message_box)) return 0;
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

window_handle get_active_window() {
  if (detail::enter(call::get_active_window)) return nullptr;
  return GetActiveWindow();
}

namespace {
bool detached_by_free_library = false;
}

file_handle open_file_w(const wchar_t* path, file_open how) {
  if (detail::enter(call::file)) return nullptr;
  const win32_open o = win32_open_of(how);
  const HANDLE h = CreateFileW(path, o.access, o.share, nullptr, o.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

bool read_file(file_handle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  if (detail::enter(call::file, 0, size)) return false;
  DWORD got = 0;
  const BOOL ok = ReadFile(static_cast<HANDLE>(file), buffer, size, &got, nullptr);
  *read = got;
  return ok != FALSE;
}

bool write_file(file_handle file, const void* data, std::uint32_t size) {
  if (detail::enter(call::file, 0, size)) return false;
  DWORD written = 0;
  return WriteFile(static_cast<HANDLE>(file), data, size, &written, nullptr) != FALSE && written == size;
}

void close_file(file_handle file) {
  if (file != nullptr) CloseHandle(static_cast<HANDLE>(file));
}

file_facts file_facts_w(const wchar_t* path) {
  file_facts facts;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (detail::enter(call::file_attributes) || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return facts;
  facts.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? path_kind::folder : path_kind::file;
  facts.size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  facts.write_time = (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return facts;
}

std::uint32_t get_current_directory_w(wchar_t* buffer, std::uint32_t size) {
  if (detail::enter(call::current_directory, 0, size)) return 0;
  return GetCurrentDirectoryW(size, buffer);
}

bool same_file_name(const wchar_t* a, const wchar_t* b, std::uint32_t length) {
  using compare_ordinal = int(WINAPI*)(const wchar_t*, int, const wchar_t*, int, BOOL);
  // Looked up: the plugin loads on Windows XP, which lacks it.
  static const auto compare = reinterpret_cast<compare_ordinal>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CompareStringOrdinal")));
  const int n = static_cast<int>(length);
  if (compare != nullptr) return compare(a, n, b, n, TRUE) == CSTR_EQUAL;
  constexpr LCID invariant = 0x007F;
  std::wstring upper_a(length, L'\0'), upper_b(length, L'\0');
  if (length == 0) return true;
  if (LCMapStringW(invariant, LCMAP_UPPERCASE, a, n, upper_a.data(), n) != n ||
      LCMapStringW(invariant, LCMAP_UPPERCASE, b, n, upper_b.data(), n) != n) {
    return false;
  }
  return upper_a == upper_b;
}

bool unloading_by_free_library() { return detached_by_free_library; }
void note_process_detach(bool by_free_library) { detached_by_free_library = by_free_library; }

}  // namespace os
