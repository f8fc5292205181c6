// The simulated game executable: its address range mapped at a fixed address,
// with the bytes the plugin reads, calls and patches written into it. As in
// the game, its code is read-execute only and its variables read-write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hooking/host_version.h"

namespace sim {

using hooking::host_address;

constexpr host_address image_begin = 0x400000;
constexpr host_address image_end = 0xCA0000;
constexpr std::size_t image_size = image_end - image_begin;
// The first page holds the executable's headers; the code follows up to here.
constexpr host_address code_begin = 0x401000;
constexpr host_address code_end = 0x858000;

// Memory of the simulator's own, page-protected like a module's sections.
namespace memory {
enum class access { read_write, read_execute };
void* allocate(std::size_t size);  // read-write, zeroed; nullptr when refused
[[nodiscard]] bool protect(void* address, std::size_t size, access how);
}  // namespace memory

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
  std::uintptr_t running(host_address address) const { return reinterpret_cast<std::uintptr_t>(at(address)); }

  // Zeroes the image and opens all of it for writing.
  void clear();
  // Makes the code read-execute only and the rest read-write, as the game's
  // loader leaves them. From then on only VirtualProtect opens the code.
  void seal();
  bool sealed() const { return sealed_; }

  // The simulator's own writes, which pass the protection as the game's
  // loader (or a test) would.
  void write(host_address address, const void* bytes, std::size_t size);
  void write_word(host_address address, std::uint32_t word);
  void write_jump_stub(host_address address, const void* target);
  // The probe word of one build; version 0 writes none.
  void write_probe(std::uint32_t version);

 private:
  std::uintptr_t base_ = 0;
  bool sealed_ = false;
};

}  // namespace sim
