// Which build of the game executable is running, and where its code and data
// lie in this process.
#pragma once

#include <cstdint>

namespace hooking {

// An address as the game executable links it at its preferred base.
using host_address = std::uint32_t;

constexpr host_address preferred_base = 0x400000;

enum version_id : std::uint32_t {
  version_unknown = 0,
  version_1001 = 1001,
  version_1002 = 1002,
  version_1011 = 1011,
  version_1101 = 1101,
  version_1111 = 1111,
  version_3200 = 3200,
  version_3210 = 3210,
};

struct version_probe {
  host_address address;
  std::uint32_t expected;
  std::uint32_t id;
};

// In the order they are tried; the first match decides.
inline constexpr version_probe version_probes[] = {
    {0x401000, 0x53EC8B55, version_1001},
    {0x401000, 0x16197BE9, version_1002},
    {0x8245BC, 0x000094BF, version_1011},
    {0x8252FC, 0x000094BF, version_1101},
    {0x82533C, 0x000094BF, version_1111},
    {0x858D51, 0x3539F633, version_3200},
    {0x858C61, 0x3539F633, version_3210},
};

// The builds whose code this system knows, and so patches; every other id,
// recognised or not, is left alone.
constexpr bool served_version(std::uint32_t id) { return id == version_1001 || id == version_1002; }

// Detected on the first call, then cached for the life of the process.
std::uint32_t host_version();
std::uint32_t detect_host_version();

// Base of the process's main executable, asked once.
std::uintptr_t host_module_base();

// base + address - 0x400000, wrapping in 32 bits.
std::uintptr_t resolve_host_address(host_address address);

// The 32-bit word at the resolved address, read under a temporary change of
// page protection. 0 when the protection cannot be changed: such an address is
// not part of the image, and reading it would fault.
std::uint32_t read_host_word(host_address address);
// How many of those reads could not give their page its protection back
// (the page stays open for writing): the overlay says so in its log.
unsigned probe_pages_left_open();

// The argument that belongs to the running version; 0 for any other id.
host_address address_by_version(host_address a1001, host_address a1002, host_address a1011,
                                host_address a1101, host_address a1111, host_address a3200,
                                host_address a3210);

// A resolved host address, written once when constructed.
class host_reference {
 public:
  host_reference(host_address a1001, host_address a1002, host_address a1011, host_address a1101,
                 host_address a1111, host_address a3200, host_address a3210)
      : address_(resolve_host_address(
            address_by_version(a1001, a1002, a1011, a1101, a1111, a3200, a3210))) {}

  std::uintptr_t address() const { return address_; }

  template <class T>
  T* as() const {
    return reinterpret_cast<T*>(address_);
  }

 private:
  std::uintptr_t address_;
};

}  // namespace hooking
