// The simulated game executable: its address range mapped at a fixed address,
// with the bytes the plugin reads, calls and patches written into it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hooking/host_version.h"

namespace sim {

using hooking::host_address;

constexpr host_address image_begin = 0x400000;
constexpr host_address image_end = 0xCA0000;
constexpr std::size_t image_size = image_end - image_begin;

// Bytes of a hooked call site: CALL rel32 of the game function, then RET.
constexpr std::size_t call_site_size = 6;

class game_image {
 public:
  static game_image& get();

  // Maps the range at base (the game's preferred base unless a test moves
  // it). A second call with the same base keeps the mapping.
  bool map(std::uintptr_t base = image_begin);
  bool mapped() const { return base_ != 0; }
  std::uintptr_t base() const { return base_; }

  // Where a host address lies in the mapping.
  std::uint8_t* at(host_address address) const {
    return reinterpret_cast<std::uint8_t*>(base_ + (address - image_begin));
  }

  void clear();
  void write(host_address address, const void* bytes, std::size_t size);
  void write_word(host_address address, std::uint32_t word);
  void write_call_site(host_address site, const void* callee);
  void write_jump_stub(host_address address, const void* target);
  // The probe word of one build; version 0 writes none.
  void write_probe(std::uint32_t version);

 private:
  std::uintptr_t base_ = 0;
};

}  // namespace sim
