// Copying bytes out of and into the game's code, and writing calls there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace patch {

// Both copy nothing and answer false when a page cannot be opened: such
// memory is not ours to touch, and touching it would fault. A write opens
// every page it touches at once, writes all bytes, puts each page's own
// protection back and then flushes the instruction cache once.
bool read_code_bytes(std::uintptr_t address, void* destination, std::size_t size, bool unprotect);
bool write_code_bytes(std::uintptr_t address, const void* source, std::size_t size, bool unprotect);

// The bytes of a CALL rel32 from address to destination, padded with NOPs to
// length (5 to 8).
void encode_call(std::uintptr_t address, std::uintptr_t destination, std::size_t length, std::uint8_t* out);

// Makes the length bytes at address a CALL rel32 of destination followed by
// NOPs, in one write. Returns what call_target_at(address) answered before;
// written (when given) says whether the write went through.
std::uintptr_t write_call(std::uintptr_t address, std::uintptr_t destination, std::size_t length = 5,
                          bool* written = nullptr);

}  // namespace patch
