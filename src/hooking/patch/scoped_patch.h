// Patches that remember the bytes they overwrite and put them back, but only
// while the code still holds what they wrote.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hooking/patch/code_writer.h"

namespace patch {

enum class restore_outcome {
  nothing_saved,      // nothing to put back
  restored,           // the saved bytes are back
  not_ours,           // another module wrote over our bytes: left as it is
  protection_failed,  // the page could not be opened; the bytes stay saved
};

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

  void restore() override { put_back(); }

  // Writes the saved bytes back. Once claim() has said what we wrote, only
  // while the code still holds exactly that: whoever patched the code after
  // us chains to what they found there, and taking the code from under them
  // would cut them off.
  restore_outcome put_back() {
    if (!saved) return last_restore = restore_outcome::nothing_saved;
    if (claimed && !still_ours()) {
      saved = false;
      claimed = false;
      return last_restore = restore_outcome::not_ours;
    }
    if (!write_code_bytes(address, buffer, size, unprotect)) return last_restore = restore_outcome::protection_failed;
    saved = false;
    claimed = false;
    return last_restore = restore_outcome::restored;
  }

  virtual void save(std::uintptr_t at, std::size_t count, bool unprotect_pages) {
    assert(count <= bufsize && "size <= bufsize");
    if (count > bufsize) return;
    this->restore();
    address = at;
    size = static_cast<std::uint32_t>(count);
    unprotect = unprotect_pages;
    claimed = false;
    // Unreadable bytes are not remembered: writing the buffer back would
    // put zeros into the game's code.
    saved = read_code_bytes(address, buffer, size, unprotect);
  }

  // Records the bytes just written over the saved ones.
  void claim(const std::uint8_t* bytes) {
    std::memcpy(written, bytes, size);
    claimed = true;
  }

  // Whether the code holds what claim() recorded; false when it cannot be read.
  bool still_ours() const {
    std::uint8_t current[bufsize];
    if (!read_code_bytes(address, current, size, unprotect)) return false;
    return std::memcmp(current, written, size) == 0;
  }

  bool has_saved() const { return saved; }
  // The saved bytes are not to be written back (the write over them failed).
  void forget() { saved = false; }
  // What claim() recorded no longer counts: put_back writes unconditionally.
  void disown() { claimed = false; }
  restore_outcome last_restore_outcome() const { return last_restore; }

 protected:
  std::uint8_t buffer[bufsize] = {};
  std::uintptr_t address = 0;
  std::uint32_t size = 0;
  bool saved = false;
  bool unprotect = false;
  std::uint8_t written[bufsize] = {};
  bool claimed = false;
  restore_outcome last_restore = restore_outcome::nothing_saved;
};

// The patch of one CALL instruction: five bytes for CALL rel32, six for a
// CALL through a pointer, whose last byte must not stay behind as an
// instruction of its own.
class scoped_call : public scoped_basic<6> {};

}  // namespace patch
