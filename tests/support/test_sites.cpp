#include "tests/support/test_sites.h"

#include <gtest/gtest.h>

#include "sim/host_world.h"
#include "sim/site_function.h"

namespace test {

unsigned game_function_calls = 0;

void* HOST_ENTRY game_function() {
  ++game_function_calls;
  return reinterpret_cast<void*>(game_result);
}

void ensure_image() {
  static const bool laid_out = sim::host_world::get().lay_out(hooking::version_1001);
  if (!laid_out) std::abort();
}

std::uintptr_t make_site(hooking::host_address site, std::size_t slot) {
  ensure_image();
  sim::site_function::write_call(site, reinterpret_cast<const void*>(&game_function), slot);
  return sim::game_image::get().running(site);
}

std::vector<std::uint8_t> site_bytes(hooking::host_address site, std::size_t count) {
  const std::uint8_t* p = sim::game_image::get().at(site);
  return std::vector<std::uint8_t>(p, p + count);
}

void* run_site(hooking::host_address site) {
  const std::uint32_t before = sim::site_function::mismatches();
  void* result = sim::site_function::run(site);
  EXPECT_EQ(sim::site_function::mismatches(), before) << "registers or stack changed across the call at " << std::hex
                                                      << site;
  return result;
}

}  // namespace test
