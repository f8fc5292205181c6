// What the Linux stand-in answers in place of the system, set by tests and the
// simulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"

#pragma GCC visibility push(default)

namespace os::linux_host {

// GetModuleHandleA(nullptr): the simulated game executable's base.
void set_main_module(module_handle base);

// GetModuleFileNameA for any module but the main one. Empty: the real file of
// the shared object or executable that holds the address.
void set_module_file_name(const std::string& path);
// GetModuleFileNameA(nullptr): the game executable's path. Empty: /proc/self/exe.
void set_main_file_name(const std::string& path);

void set_active_window(window_handle window);

// The ANSI code page of the stand-in is UTF-8, which holds every character,
// unless a single-byte page is asked for: then only code points up to 0xFF
// convert (as Latin-1 bytes), and GetModuleFileNameA answers '?' for others.
void set_single_byte_code_page(bool on);
// A character of a double-byte code page (932, 936, 949, 950) and its two
// bytes there, for example 表 and 95 5C: the second byte may be a backslash.
void set_double_byte_character(const std::string& character, const std::string& bytes);
// GetShortPathNameW's answer for a path; other paths come back unchanged, as
// on a volume without short names. Both in UTF-8.
void set_short_path(const std::string& long_path, const std::string& short_path);

// A module of that file name loaded into the process, as another program's
// DLL is: GetModuleHandleA finds it by name.
void load_module(const std::string& file_name);
void unload_modules();
// The keyboard and the foreground window as the stand-in reports them.
void set_key_down(int virtual_key, bool down);
void set_foreground_is_ours(bool ours);
// The protection pages were last given, through the seam or by the image
// itself, as VirtualQuery reports what VirtualProtect set (an emulator such
// as qemu-i386 may show other flags in the process's own map); forgotten
// for pages mapped afresh.
void note_protection(std::uintptr_t begin, std::size_t size, std::uint32_t protection);
void forget_protections(std::uintptr_t begin, std::size_t size);
// Modules pinned through pin_module, by file.
const std::vector<std::string>& pinned_modules();

struct shown_box {
  window_handle owner;
  std::string text;
  std::string caption;
  std::uint32_t style;
};
// Message boxes are recorded, never shown.
std::vector<shown_box>& message_boxes();

// dlclose as FreeLibrary: the module's detach sees an unload, not the
// process's end.
int free_library(void* module);
// GetCurrentDirectoryW's answer. Empty: the process's own.
void set_current_directory(const std::string& path);

// Puts every answer back to its default.
void reset();

}  // namespace os::linux_host

#pragma GCC visibility pop
