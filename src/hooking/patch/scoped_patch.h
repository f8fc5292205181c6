// Patches that remember the bytes they overwrite and put them back.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "hooking/patch/code_access.h"

namespace patch {

class scoped_base {
 public:
  virtual ~scoped_base() = default;
  virtual void restore() = 0;
};

template <std::size_t bufsize>
class scoped_basic : public scoped_base {
 public:
  scoped_basic() = default;
  scoped_basic(const scoped_basic&) = delete;
  scoped_basic& operator=(const scoped_basic&) = delete;
  ~scoped_basic() override { scoped_basic::restore(); }

  void restore() override {
    if (!saved) return;
    write_code_bytes(address, buffer, size, unprotect);
    saved = false;
  }

  virtual void save(std::uintptr_t at, std::size_t count, bool unprotect_pages) {
    assert(count <= bufsize && "size <= bufsize");
    if (count > bufsize) return;
    this->restore();
    address = at;
    size = static_cast<std::uint32_t>(count);
    unprotect = unprotect_pages;
    // Unreadable bytes are not remembered: writing the buffer back would
    // put zeros into the game's code.
    saved = read_code_bytes(address, buffer, size, unprotect);
  }

  bool has_saved() const { return saved; }

 protected:
  std::uint8_t buffer[bufsize] = {};
  std::uintptr_t address = 0;
  std::uint32_t size = 0;
  bool saved = false;
  bool unprotect = false;
};

// The patch of one CALL instruction: five bytes for CALL rel32, six for a
// CALL through a pointer, whose last byte must not stay behind as an
// instruction of its own.
class scoped_call : public scoped_basic<6> {};

}  // namespace patch
