#include "sim/game_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hooking/patch/instruction.h"

namespace sim {

namespace {

// The simulated game cannot go on with its pages in the wrong state: a
// protection the system refuses ends the run, as a fault would.
void protect_or_stop(void* address, std::size_t size, memory::access how) {
  if (memory::protect(address, size, how)) return;
  std::fprintf(stderr, "hostsim: the system refused a protection change of the game image at %p\n", address);
  std::exit(3);
}

}  // namespace

game_image& game_image::get() {
  static game_image image;
  return image;
}

// The first page holds the executable's own headers in hostsim.exe; no
// host address the plugin uses lies there.
void game_image::clear() {
  protect_or_stop(at(code_begin), image_end - code_begin, memory::access::read_write);
  sealed_ = false;
  std::memset(at(code_begin), 0, image_end - code_begin);
}

void game_image::seal() {
  protect_or_stop(at(code_begin), code_end - code_begin, memory::access::read_execute);
  protect_or_stop(at(code_end), image_end - code_end, memory::access::read_write);
  sealed_ = true;
}

void game_image::write(host_address address, const void* bytes, std::size_t size) {
  const bool in_code = sealed_ && address < code_end && address + size > code_begin;
  if (!in_code) {
    std::memcpy(at(address), bytes, size);
    return;
  }
  constexpr std::uintptr_t page = 0x1000;
  const std::uintptr_t first = running(address) & ~(page - 1);
  const std::size_t span = ((running(address) + size + page - 1) & ~(page - 1)) - first;
  auto* pages = reinterpret_cast<void*>(first);
  protect_or_stop(pages, span, memory::access::read_write);
  std::memcpy(at(address), bytes, size);
  protect_or_stop(pages, span, memory::access::read_execute);
}

void game_image::write_word(host_address address, std::uint32_t word) { write(address, &word, 4); }

void game_image::write_jump_stub(host_address address, const void* target) {
  std::uint8_t bytes[5];
  patch::encode_branch(patch::branch_form::jump_relative, running(address), reinterpret_cast<std::uintptr_t>(target), bytes);
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
