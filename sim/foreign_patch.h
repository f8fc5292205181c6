// Another module's patch at a game call site, laid out before the plugin
// loads, with code that behaves as such modules' code does. The call forms
// call a function of the module that calls the game's function and returns;
// the jump forms lead to a thunk that calls the game's function and jumps
// back behind the site. The module's code is read-execute only, its data
// (pointer cells, run counters) read-write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/foreign_form.h"
#include "sim/game_image.h"

namespace sim {


class foreign_module {
 public:
  static foreign_module& get();

  // Rewrites the game function at site so that its call goes through the
  // module; the module's code calls callee. False when memory was refused.
  bool patch(host_address site, foreign_form form, const void* callee);
  // How often the module's code at site ran.
  std::uint32_t runs(host_address site) const;
  // The module's memory, for protection checks.
  struct region {
    std::uintptr_t begin;
    std::size_t size;
  };
  std::vector<region> regions() const;
  // Forgets every patch; the memory is kept for the next.
  void clear();

 private:
  static constexpr std::size_t page = 0x1000;
  static constexpr std::size_t slot_size = 32;
  struct entry {
    host_address site;
    std::size_t slot;
  };
  bool ensure_memory();
  std::uint8_t* code_ = nullptr;
  std::uint32_t* data_ = nullptr;  // per slot: run counter, pointer cell
  std::vector<entry> entries_;
};

}  // namespace sim
