// Event hubs: a call instruction of the game tied to handlers that run before
// and after the game's own call.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "hooking/host_version.h"
#include "hooking/patch/hooking.h"
#include "host/host_services.h"

namespace events {

using hooking::host_address;

// A hook site: the call instruction's host address and the version it holds for.
template <host_address Address, std::uint32_t Version, std::uint32_t X = 0, std::uint32_t Y = 0,
          std::uint32_t Z = 0>
struct Ref {
  static constexpr host_address address = Address;
  static constexpr std::uint32_t version = Version;
};

template <class... Refs>
struct RefList {};

template <class... Types>
struct ArgTypes {};

template <class Types>
struct ArgPick {};

using Handler = std::function<void()>;

template <template <class, host_address, class> class Hook, class Refs, class Pick, class Prototype>
class BaseEventI;

template <template <class, host_address, class> class Hook, class... Refs>
class BaseEventI<Hook, RefList<Refs...>, ArgPick<ArgTypes<>>, void()> {
 public:
  using handler_list = std::vector<Handler>;
  using result_type = void*;
  using next_type = std::function<result_type()>;

  BaseEventI() = default;
  BaseEventI(const BaseEventI&) = delete;
  BaseEventI& operator=(const BaseEventI&) = delete;

  // Appends a copy of handler to list (this hub's before or after). The first
  // addition installs the hub's hook.
  void add_handler(handler_list& list, Handler handler) {
    if (!handler) return;  // calling it inside the game's frame would throw
    if (auto* const* plain = handler.template target<void (*)()>()) {
      for (const Handler& entry : list) {
        auto* const* other = entry.template target<void (*)()>();
        if (other && *other == *plain) return;
      }
    }
    if (!patched) {
      patched = true;
      PatchAll(RefList<Refs...>{});
    }
    list.push_back(std::move(handler));
  }

  result_type dispatch(const next_type& next) {
    run(before);
    const result_type result = next();
    run(after);
    return result;
  }

  // What the hook at this hub's site came to; not_attempted under a build
  // the hub does not list.
  patch::patch_outcome site_outcome() const { return outcome; }

  // What giving the site back came to, once its last hook went (at unload,
  // when the hook stores are destroyed). Plain data that outlives the hub:
  // it can be asked after everything else of the framework is gone.
  static patch::release_report site_release() {
    patch::release_report report;
    (release_of<Refs>(&report), ...);
    return report;
  }

  bool patched = false;
  handler_list before;
  handler_list after;

 private:
  template <class... Entries>
  void PatchAll(RefList<Entries...>) {
    (patch_entry<Entries>(), ...);
  }

  template <class Entry>
  void patch_entry() {
    if (hooking::host_version() != Entry::version) return;
    using hook_type = Hook<patch::scoped_call, Entry::address, result_type()>;
    hook_type hook;
    hook.install([this](const next_type& next) { return dispatch(next); });
    outcome = hook.install_outcome();
    patch::hook_store<hook_type>().push_back(std::move(hook));
  }

  template <class Entry>
  static void release_of(patch::release_report* report) {
    if (hooking::host_version() != Entry::version) return;
    using hook_type = Hook<patch::scoped_call, Entry::address, result_type()>;
    *report = hook_type::manager_type::final_release;
  }

  patch::patch_outcome outcome = patch::patch_outcome::not_attempted;

  // Indexed and by copy: a handler may add handlers to the list it runs in.
  static void run(const handler_list& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Handler handler = list[i];
      try {
        handler();
      } catch (...) {
        // A handler's failure stays in the hub: the others and the game go on.
      }
    }
  }
};

template <host_address Site>
using game_event = BaseEventI<patch::function_hooker, RefList<Ref<Site, hooking::version_1001>, Ref<Site, hooking::version_1002>>,
                              ArgPick<ArgTypes<>>, void()>;

using start_up_hub = game_event<host::addr::start_up_site>;
using drawing_hub = game_event<host::addr::drawing_site>;
using shutdown_hub = game_event<host::addr::shutdown_site>;

start_up_hub& start_up_event();
drawing_hub& drawing_event();
shutdown_hub& shutdown_event();

}  // namespace events
