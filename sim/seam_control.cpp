#include "sim/seam_control.h"

namespace os {

seam_control& control() {
  static seam_control instance;
  return instance;
}

void set_failing(call c, bool fail) {
  if (fail) {
    control().failing |= bit(c);
  } else {
    control().failing &= ~bit(c);
  }
}

unsigned call_count(call c) { return control().calls[static_cast<unsigned>(c)]; }

void reset_control() {
  seam_control& s = control();
  s.failing = 0;
  for (unsigned& n : s.calls) n = 0;
  s.recording = false;
  s.record_count = 0;
  s.fail_protect_begin = 0;
  s.fail_protect_end = 0;
}

namespace detail {

bool enter(call c, std::uintptr_t address, std::size_t size) {
  seam_control& s = control();
  ++s.calls[static_cast<unsigned>(c)];
  if (s.recording && s.record_count < seam_control::max_records) {
    s.records[s.record_count++] = call_record{c, address, size};
  }
  if (s.failing & bit(c)) return true;
  if (c == call::virtual_protect && s.fail_protect_begin != s.fail_protect_end) {
    return address < s.fail_protect_end && address + size > s.fail_protect_begin;
  }
  return false;
}

}  // namespace detail
}  // namespace os
