// The Windows calls the system makes, one function each, with the Win32
// signatures narrowed to what is used. os_win32.cpp forwards to Windows; in
// the native build the simulator's stand-in (sim/os_linux.cpp) answers.
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef _WIN32
// The native plugin module resolves the seam from the host executable.
#pragma GCC visibility push(default)
#endif

namespace os {

using module_handle = void*;
using window_handle = void*;

enum page_protection : std::uint32_t {
  page_noaccess = 0x01,
  page_readonly = 0x02,
  page_readwrite = 0x04,
  page_execute = 0x10,
  page_execute_read = 0x20,
  page_execute_readwrite = 0x40,
};

enum module_flags : std::uint32_t {
  module_unchanged_refcount = 0x2,
  module_from_address = 0x4,
};

enum message_box_style : std::uint32_t {
  mb_ok = 0x0,
  mb_iconerror = 0x10,
};

bool virtual_protect(void* address, std::size_t size, std::uint32_t new_protect,
                     std::uint32_t* old_protect);
bool flush_instruction_cache(const void* address, std::size_t size);
// VirtualQuery: the protection of the committed page holding address; false
// when nothing is committed there.
bool query_protection(const void* address, std::uint32_t* protection);
module_handle get_module_handle(const char* name);
bool get_module_handle_ex(std::uint32_t flags, const void* address, module_handle* module);
std::uint32_t get_module_file_name(module_handle module, char* buffer, std::uint32_t size);
// GetModuleHandleExW with GET_MODULE_HANDLE_EX_FLAG_PIN: the module holding
// address stays mapped until the process ends, whatever FreeLibrary does.
bool pin_module(const void* address);
// The process's own environment: a place that every module of the process
// sees and no other process does (children get a copy, hence the id).
std::uint32_t get_environment_variable(const char* name, char* buffer, std::uint32_t size);
bool set_environment_variable(const char* name, const char* value);
std::uint32_t current_process_id();
std::uint32_t current_thread_id();
// GetAsyncKeyState's top bit: the key is down now.
bool key_down(int virtual_key);
// Whether the foreground window belongs to this process.
bool process_owns_foreground();
std::uint32_t get_module_file_name_w(module_handle module, wchar_t* buffer, std::uint32_t size);
std::uint32_t get_short_path_name_w(const wchar_t* path, wchar_t* buffer, std::uint32_t size);
// WideCharToMultiByte into the system's ANSI code page. False when a character
// has no exact counterpart there (Windows would put '?' or a look-alike) or
// the text does not fit.
bool wide_to_ansi(const wchar_t* text, char* buffer, std::uint32_t size);
int message_box(window_handle owner, const char* text, const char* caption, std::uint32_t style);
window_handle get_active_window();

// Files, as CreateFileW opens them: every sharing mode granted, so that other
// programs may read and write them meanwhile. Null when it cannot be opened.
using file_handle = void*;
enum class file_open : std::uint32_t {
  read_existing,  // OPEN_EXISTING, for reading
  write_new,      // CREATE_ALWAYS: created, or emptied
  append,         // OPEN_ALWAYS with FILE_APPEND_DATA: every write at the end
};
file_handle open_file_w(const wchar_t* path, file_open how);
// CreateFileA, the narrow form: at most 259 characters on Windows, whatever
// the path's prefix (Wine lifts that limit; this does not). The game opens
// its files this way; the plugin never does.
file_handle open_file(const char* path, file_open how);
// ReadFile: false on failure; *read is 0 at the end of the file.
bool read_file(file_handle file, void* buffer, std::uint32_t size, std::uint32_t* read);
// WriteFile: true when every byte was written.
bool write_file(file_handle file, const void* data, std::uint32_t size);
void close_file(file_handle file);
// GetFileAttributesExW: what a path names, and of a file its size and the
// time of its last write (in 100 ns steps, as Windows counts them).
enum class path_kind { none, file, folder };
struct file_facts {
  path_kind kind = path_kind::none;
  std::uint64_t size = 0;
  std::uint64_t write_time = 0;
  bool operator==(const file_facts&) const = default;
};
file_facts file_facts_w(const wchar_t* path);
inline path_kind path_kind_w(const wchar_t* path) { return file_facts_w(path).kind; }
// GetCurrentDirectoryW: as GetModuleFileNameW answers, 0 on failure, the
// size needed when the buffer is too small.
std::uint32_t get_current_directory_w(wchar_t* buffer, std::uint32_t size);
// Whether two texts of length characters are one file name as Windows
// compares them: ordinal, ignoring case (CompareStringOrdinal, or on systems
// before Vista both upper-cased by LCMapStringW in the invariant locale).
bool same_file_name(const wchar_t* a, const wchar_t* b, std::uint32_t length);
// Whether the module being detached now is unloaded by FreeLibrary (true)
// or with the process's end (false).
bool unloading_by_free_library();
// Told by the module's entry point at DLL_PROCESS_DETACH: a null reserved
// argument is FreeLibrary's.
void note_process_detach(bool by_free_library);

}  // namespace os

#ifndef _WIN32
#pragma GCC visibility pop
#endif
