// Call sites of our own in the simulated image, for the patching tests: each
// lies inside a game function that keeps and checks its registers, and
// running it executes those real instructions.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/game_image.h"
#include "host/host_services.h"

namespace test {

// The value the stand-in game function returns, and how often it ran.
constexpr std::uintptr_t game_result = 0x1234ABCD;
extern unsigned game_function_calls;
void* HOST_ENTRY game_function();

// Maps the image (at the preferred base, as a 1001 build) if it is not yet.
void ensure_image();

// Lays out a game function whose call at site (a slot of 5 or 6 bytes) calls
// game_function; returns the site's running address.
std::uintptr_t make_site(hooking::host_address site, std::size_t slot = 5);
std::vector<std::uint8_t> site_bytes(hooking::host_address site, std::size_t count = 6);
// Calls the game function, and fails the test when it saw its registers or
// stack changed across the call.
void* run_site(hooking::host_address site);

}  // namespace test
