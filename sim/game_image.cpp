#include "game_image.h"

#include <cstring>

namespace sim {

game_image& game_image::get() {
  static game_image image;
  return image;
}

// The first page holds the executable's own headers in hostsim.exe; no
// host address the plugin uses lies there.
void game_image::clear() { std::memset(at(image_begin + 0x1000), 0, image_size - 0x1000); }

void game_image::write(host_address address, const void* bytes, std::size_t size) {
  std::memcpy(at(address), bytes, size);
}

void game_image::write_word(host_address address, std::uint32_t word) { write(address, &word, 4); }

void game_image::write_call_site(host_address site, const void* callee) {
  const auto from = reinterpret_cast<std::uintptr_t>(at(site));
  const std::uint32_t displacement = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(callee) - (from + 5));
  std::uint8_t bytes[call_site_size] = {0xE8, 0, 0, 0, 0, 0xC3};
  std::memcpy(bytes + 1, &displacement, 4);
  write(site, bytes, sizeof bytes);
}

void game_image::write_jump_stub(host_address address, const void* target) {
  const auto from = reinterpret_cast<std::uintptr_t>(at(address));
  const std::uint32_t displacement = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target) - (from + 5));
  std::uint8_t bytes[5] = {0xE9, 0, 0, 0, 0};
  std::memcpy(bytes + 1, &displacement, 4);
  write(address, bytes, sizeof bytes);
}

void game_image::write_probe(std::uint32_t version) {
  for (const hooking::version_probe& probe : hooking::version_probes) {
    if (probe.id == version) {
      write_word(probe.address, probe.expected);
      return;
    }
  }
}

}  // namespace sim
