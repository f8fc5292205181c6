// The tests' hold on the seam: any call made to fail, every call counted,
// and while recording, each call with its address and size. Built only into
// the simulator and the tests, never into the shipped plugin.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/seam_check.h"

#ifndef _WIN32
#pragma GCC visibility push(default)
#endif

namespace os {

struct call_record {
  call what;
  std::uintptr_t address;  // first address argument, or 0
  std::size_t size;        // size argument, or 0
};

struct seam_control {
  unsigned failing = 0;  // bit (1 << call) set: that call fails
  unsigned calls[static_cast<unsigned>(call::count_)] = {};
  // While recording, every call is appended here (bounded, oldest kept).
  bool recording = false;
  static constexpr std::size_t max_records = 4096;
  call_record records[max_records];
  std::size_t record_count = 0;
  // Fails virtual_protect only for ranges that touch [fail_protect_begin, fail_protect_end).
  std::uintptr_t fail_protect_begin = 0;
  std::uintptr_t fail_protect_end = 0;
};

seam_control& control();

inline unsigned bit(call c) { return 1u << static_cast<unsigned>(c); }
void set_failing(call c, bool fail);
unsigned call_count(call c);
void reset_control();

}  // namespace os

#ifndef _WIN32
#pragma GCC visibility pop
#endif
