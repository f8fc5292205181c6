// Page protection opened around an access to the game's code, and put back
// page by page: a range may cross from a code page into a data page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace patch {

enum class access { read, write };

class protection_guard {
 public:
  // Reads leave readable pages as they are (a read-only page is readable, and
  // asking it for write access may be refused); writes open every page for
  // execute-read-write. unprotect false changes nothing.
  protection_guard(std::uintptr_t address, std::size_t size, access how, bool unprotect);
  ~protection_guard();
  protection_guard(const protection_guard&) = delete;
  protection_guard& operator=(const protection_guard&) = delete;

  // False when a page could not be opened: nothing may be copied then.
  bool usable() const { return usable_; }

  static constexpr std::uintptr_t page_size = 0x1000;
  static constexpr std::size_t max_pages = 8;

 private:
  struct change {
    std::uintptr_t begin;
    std::size_t size;
    std::uint32_t old;
  };
  bool open(std::uintptr_t begin, std::size_t size, access how);
  void put_back();

  change changes_[max_pages] = {};
  std::size_t count_ = 0;
  bool usable_ = false;
};

// Whether a protection value lets the page be read.
bool readable(std::uint32_t protection);

}  // namespace patch
