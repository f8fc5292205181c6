#include "hooking/host_version.h"

#include <cstring>

#include "platform/os.h"

namespace hooking {
namespace {
unsigned pages_left_open = 0;  // plain data: read at any time, from load on
}

std::uint32_t host_version() {
  static const std::uint32_t id = detect_host_version();
  return id;
}

std::uint32_t detect_host_version() {
  for (const version_probe& probe : version_probes) {
    if (read_host_word(probe.address) == probe.expected) return probe.id;
  }
  return version_unknown;
}

std::uintptr_t host_module_base() {
  static const std::uintptr_t base =
      reinterpret_cast<std::uintptr_t>(os::get_module_handle(nullptr));
  return base;
}

std::uintptr_t resolve_host_address(host_address address) {
  return static_cast<std::uint32_t>(host_module_base() + address - preferred_base);
}

std::uint32_t read_host_word(host_address address) {
  void* p = reinterpret_cast<void*>(resolve_host_address(address));
  std::uint32_t old = 0;
  if (!os::virtual_protect(p, 4, os::page_execute_readwrite, &old)) return 0;
  std::uint32_t word = 0;
  std::memcpy(&word, p, sizeof word);  // probes 6 and 7 are not aligned
  if (!os::virtual_protect(p, 4, old, &old)) ++pages_left_open;
  return word;
}

unsigned probe_pages_left_open() { return pages_left_open; }

host_address address_by_version(host_address a1001, host_address a1002, host_address a1011,
                                host_address a1101, host_address a1111, host_address a3200,
                                host_address a3210) {
  switch (host_version()) {
    case version_1001: return a1001;
    case version_1002: return a1002;
    case version_1011: return a1011;
    case version_1101: return a1101;
    case version_1111: return a1111;
    case version_3200: return a3200;
    case version_3210: return a3210;
    default: return 0;
  }
}

}  // namespace hooking
