// The simulated game's image is as strict as the game's: code written only
// once opened, and every hooked call checked for the registers it keeps.
#include <gtest/gtest.h>

#include "host/host_addresses.h"
#include "sim/game_image.h"
#include "sim/site_function.h"
#include "tests/support/test_sites.h"

namespace {

using sim::game_image;

constexpr hooking::host_address site = 0x401200;

// As in the game, the code can only be written once VirtualProtect opened it.
TEST(GameImageTest, CodeWrittenWithoutOpeningItFaults) {
  test::ensure_image();
  auto* code = reinterpret_cast<volatile std::uint8_t*>(game_image::get().at(site));
  EXPECT_EQ(*code, *code);  // readable
  EXPECT_DEATH(*code = 0x90, "");
  std::uint8_t* variables = game_image::get().at(host::addr::current_area);
  *variables = *variables;  // the game's variables stay writable
}

// A callee that breaks the calling convention is caught by the game function
// around the site, which still returns to its caller.
TEST(GameImageTest, GameFunctionReportsACalleeThatChangedARegister) {
  test::ensure_image();
  constexpr hooking::host_address callee = 0x405000, at = 0x405100;
  const std::uint8_t clobbers_ebx[] = {0x31, 0xDB, 0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3};  // xor ebx, ebx; mov eax, 7; ret
  game_image::get().write(callee, clobbers_ebx, sizeof clobbers_ebx);
  sim::site_function::write_call(at, game_image::get().at(callee));
  const std::uint32_t before = sim::site_function::mismatches();
  EXPECT_EQ(sim::site_function::run(at), reinterpret_cast<void*>(7));
  EXPECT_EQ(sim::site_function::mismatches(), before + 1);
}

}  // namespace