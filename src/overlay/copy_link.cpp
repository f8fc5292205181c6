#include "overlay/copy_link.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "hooking/patch/protection_guard.h"
#include "platform/os.h"

namespace overlay {
namespace {

constexpr const char* registry_variable = "MORVAHEALTHRING_DRAWING_COPY";

constexpr std::size_t link_front = 3 * sizeof(std::uint32_t);  // magic, version, size

// Each end of length bytes committed, readable and inside a loaded module.
bool plausible_link(std::uintptr_t address, std::size_t length) {
  if (address == 0 || address % alignof(copy_link) != 0) return false;
  for (const std::uintptr_t at : {address, address + length - 1}) {
    std::uint32_t protection = 0;
    os::module_handle module = nullptr;
    if (!os::query_protection(reinterpret_cast<const void*>(at), &protection) || !patch::readable(protection)) return false;
    if (!os::get_module_handle_ex(os::module_from_address | os::module_unchanged_refcount,
                                  reinterpret_cast<const void*>(at), &module)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool write_claim(const copy_link* link) {
  if (link == nullptr) return os::set_environment_variable(registry_variable, nullptr);
  char text[48];
  std::snprintf(text, sizeof text, "%lu:%lx", static_cast<unsigned long>(os::current_process_id()),
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(link)));
  return os::set_environment_variable(registry_variable, text);
}

copy_link* read_claim() {
  char text[48] = {};
  const std::uint32_t length = os::get_environment_variable(registry_variable, text, sizeof text);
  if (length == 0 || length >= sizeof text) return nullptr;
  char* rest = nullptr;
  const unsigned long process = std::strtoul(text, &rest, 10);
  if (rest == text || *rest != ':' || process != os::current_process_id()) return nullptr;
  char* end = nullptr;
  const unsigned long address = std::strtoul(rest + 1, &end, 16);
  if (end == rest + 1 || *end != '\0' || !plausible_link(address, link_front)) return nullptr;
  auto* link = reinterpret_cast<copy_link*>(static_cast<std::uintptr_t>(address));
  return link->magic == link_magic ? link : nullptr;
}

bool speaks_this_version(const copy_link* link) {
  return link->version == link_version && link->size == sizeof(copy_link) &&
         plausible_link(reinterpret_cast<std::uintptr_t>(link), sizeof(copy_link));
}

}  // namespace overlay
