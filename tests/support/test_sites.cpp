#include "support/test_sites.h"

#include "host_world.h"

namespace test {

unsigned game_function_calls = 0;
unsigned other_module_calls = 0;

void* HOST_ENTRY game_function() {
  ++game_function_calls;
  return reinterpret_cast<void*>(game_result);
}

void* HOST_ENTRY other_module_function() {
  ++other_module_calls;
  return game_function();
}

void ensure_image() {
  static const bool laid_out = sim::host_world::get().lay_out(hooking::version_1001);
  if (!laid_out) std::abort();
}

std::uintptr_t make_site(hooking::host_address site) {
  ensure_image();
  sim::game_image::get().write_call_site(site, reinterpret_cast<const void*>(&game_function));
  return reinterpret_cast<std::uintptr_t>(sim::game_image::get().at(site));
}

std::vector<std::uint8_t> site_bytes(hooking::host_address site, std::size_t count) {
  const std::uint8_t* p = sim::game_image::get().at(site);
  return std::vector<std::uint8_t>(p, p + count);
}

void* run_site(hooking::host_address site) {
  using site_fn = void*(HOST_CDECL*)();
  site_fn volatile entry = reinterpret_cast<site_fn>(sim::game_image::get().at(site));
  return entry();
}

}  // namespace test
