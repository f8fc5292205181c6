// Where an implementation of the seam lets the tests fail a call, count it
// and record it. The shipped plugin is built without MORVA_SEAM_CONTROL:
// there every check is a constant false, and no counter or record exists.
// The test builds define it and link the control (sim/seam_control.h).
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef _WIN32
#pragma GCC visibility push(default)
#endif

namespace os {

enum class call : unsigned {
  virtual_protect,
  flush_instruction_cache,
  get_module_handle,
  get_module_handle_ex,
  get_module_file_name,
  message_box,
  get_active_window,
  get_module_file_name_w,
  get_short_path_name_w,
  wide_to_ansi,
  query_protection,
  pin_module,
  environment,
  key_state,
  file,               // open, read and write
  file_attributes,
  current_directory,
  count_,
};

namespace detail {
#ifdef MORVA_SEAM_CONTROL
// Counts the call, records it and answers whether it is to fail.
bool enter(call c, std::uintptr_t address = 0, std::size_t size = 0);
#else
constexpr bool enter(call, std::uintptr_t = 0, std::size_t = 0) { return false; }
#endif
}  // namespace detail

}  // namespace os

#ifndef _WIN32
#pragma GCC visibility pop
#endif
