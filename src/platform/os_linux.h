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
// GetShortPathNameW's answer for a path; other paths come back unchanged, as
// on a volume without short names. Both in UTF-8.
void set_short_path(const std::string& long_path, const std::string& short_path);

struct shown_box {
  window_handle owner;
  std::string text;
  std::string caption;
  std::uint32_t style;
};
// Message boxes are recorded, never shown.
std::vector<shown_box>& message_boxes();

// Puts every answer back to its default.
void reset();

}  // namespace os::linux_host

#pragma GCC visibility pop
