// Call sites of our own in the simulated image, for the patching tests: each is
// CALL game_function; RET, and running it executes those real instructions.
#pragma once

#include <cstdint>
#include <vector>

#include "game_image.h"
#include "host/host_services.h"

namespace test {

// The value the stand-in game function returns, and how often it ran.
constexpr std::uintptr_t game_result = 0x1234ABCD;
extern unsigned game_function_calls;
void* HOST_ENTRY game_function();

// A function of "another module" that patched a site before us: it counts
// and then calls the game function.
extern unsigned other_module_calls;
void* HOST_ENTRY other_module_function();

// Maps the image (at the preferred base, as a 1001 build) if it is not yet.
void ensure_image();

// Writes CALL game_function; RET at site and returns the running address.
std::uintptr_t make_site(hooking::host_address site);
std::vector<std::uint8_t> site_bytes(hooking::host_address site, std::size_t count = 6);
void* run_site(hooking::host_address site);

}  // namespace test
