// Call hooks: one CALL instruction of the game redirected to a per-site entry
// that runs a chain of hook functions around the function it used to call.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "hooking/calling_convention.h"
#include "hooking/host_version.h"
#include "hooking/patch/callee_cell.h"
#include "hooking/patch/hook_store.h"
#include "hooking/patch/module_pin.h"
#include "hooking/patch/patch_outcome.h"
#include "hooking/patch/scoped_patch.h"
#include "hooking/patch/site_patch.h"

namespace patch {

// One per hook site (through Hooker, which carries the site's address).
template <class Patch, class Hooker, class R, class... Args>
class function_hooker_manager : public Patch {
  static_assert(sizeof...(Args) == 0, "hooked callees take no arguments");

 public:
  using callee_type = R(HOST_CDECL*)(Args...);
  using next_type = std::function<R(Args...)>;
  using hook_function = std::function<R(const next_type&)>;
  using entry_type = std::pair<Hooker*, hook_function>;

  function_hooker_manager() { live = this; }
  ~function_hooker_manager() override {
    hooks.clear();
    give_back();
    // Whoever still calls the entry gets the game's function from now on.
    orphan_callee = saved_callee;
    orphan_cell = callee_cell;
    if (live == this) live = nullptr;
  }

  static std::shared_ptr<function_hooker_manager> instance() {
    static std::shared_ptr<function_hooker_manager> holder =
        std::make_shared<function_hooker_manager>();
    return holder;
  }

  patch_outcome add_hook(Hooker* hooker, hook_function functor, callee_type entry) {
    register_hook(hooker, std::move(functor));
    if (hooked) return outcome;
    if (abandoned) return outcome = patch_outcome::taken_over;
    const site_patch done = patch_call_site(*this, hooking::resolve_host_address(hooker->address),
                                            reinterpret_cast<std::uintptr_t>(entry));
    outcome = done.outcome;
    if (outcome == patch_outcome::hooked) {
      saved_callee = reinterpret_cast<callee_type>(done.callee);
      callee_cell = done.cell;
      hooked = true;
    }
    return outcome;
  }

  void transfer_hook(Hooker* from, Hooker* to) {
    auto it = find(from);
    if (it == hooks.end()) return;
    hook_function functor = std::move(it->second);
    hooks.erase(it);
    register_hook(to, std::move(functor));
  }

  // Removes the entry of one hooker; the last one out puts the site back.
  void remove_hook(Hooker* hooker) {
    auto it = find(hooker);
    if (it == hooks.end()) return;
    hooks.erase(it);
    if (hooks.empty()) restore();
  }

  void restore() override {
    if (!hooked) return;
    hooked = false;
    hooks.clear();
    // Never patched again: the site may still lead here.
    if (give_back()) abandoned = true;
  }

  // The patched CALL leads here.
  static R HOST_ENTRY call_hooks() {
    function_hooker_manager* m = live;
    if (m == nullptr) return call_orphan();
    if (m->hooked && !m->pin.asked() && !m->site_holds_our_call()) m->pin_module();
    call_state state{m};
    try {
      if (m->hooks.empty()) return m->callee_now()();
      const next_type first = [&state] { return state.call_callee(); };
      if (m->hooks.size() == 1) {
        const hook_function hook = m->hooks.front().second;
        return hook(first);
      }
      next_type chain = first;
      for (const entry_type& entry : m->hooks) {
        chain = [hook = entry.second, previous = std::move(chain)] { return hook(previous); };
      }
      return chain();
    } catch (...) {
      // Nothing may unwind into the game's frames. The game's own call still
      // runs exactly once, and its result goes back.
      return state.called ? state.result : m->callee_now()();
    }
  }

  bool is_hooked() const { return hooked; }
  callee_type callee() const { return callee_now(); }
  const std::vector<entry_type>& entries() const { return hooks; }
  // What giving the site back came to, once its last hook went. Plain data,
  // readable after the manager is gone.
  static inline release_report final_release{};

 private:
  struct call_state {
    function_hooker_manager* manager;
    bool called = false;
    R result{};
    R call_callee() {
      result = manager->callee_now()();
      called = true;
      return result;
    }
  };

  callee_type callee_now() const { return callee_through(saved_callee, callee_cell, &function_hooker_manager::call_hooks); }

  // The manager is gone but its module was pinned: someone still calls the
  // entry, and the game's function is all there is to call.
  static R call_orphan() {
    const callee_type callee = callee_through(orphan_callee, orphan_cell, &function_hooker_manager::call_hooks);
    return callee ? callee() : R{};
  }

  // Puts the saved bytes back. When the site may still lead to our entry (the
  // module that wrote over us calls it, or the page could not be opened), the
  // module is pinned: its code must outlive any unload. True when the site
  // was not given back.
  bool give_back() {
    const restore_outcome r = Patch::put_back();
    release_report& report = final_release;
    if (r == restore_outcome::nothing_saved && report.restore != restore_outcome::nothing_saved) return false;
    report.restore = r;
    if (r != restore_outcome::not_ours && r != restore_outcome::protection_failed) return false;
    report.pin_needed = true;
    report.pinned = pin_module();
    return true;
  }

  bool pin_module() { return pin.ask(reinterpret_cast<const void*>(&function_hooker_manager::call_hooks)); }

  // The site has just been executed, so it can be read without opening it.
  // Two loads and compares, not a call: this runs on every pass.
  bool site_holds_our_call() const {
    const auto* site = reinterpret_cast<const std::uint8_t*>(this->address);
    std::uint32_t now = 0, ours = 0;
    std::memcpy(&now, site, 4);
    std::memcpy(&ours, this->written, 4);
    if (now != ours || site[4] != this->written[4]) return false;
    return this->size < 6 || site[5] == this->written[5];
  }

  typename std::vector<entry_type>::iterator find(Hooker* hooker) {
    auto it = hooks.begin();
    while (it != hooks.end() && it->first != hooker) ++it;
    return it;
  }

  void register_hook(Hooker* hooker, hook_function functor) {
    auto it = find(hooker);
    if (it != hooks.end()) {
      it->second = std::move(functor);
    } else {
      hooks.emplace_back(hooker, std::move(functor));
    }
  }

  callee_type saved_callee = nullptr;
  std::uintptr_t callee_cell = 0;  // the pointer cell of a CALL [abs32] site
  std::vector<entry_type> hooks;
  bool hooked = false;
  bool abandoned = false;
  module_pin pin;
  patch_outcome outcome = patch_outcome::not_attempted;

  // Plain pointers and addresses: still valid after static destruction, in a
  // module that stayed mapped because it was pinned.
  static inline function_hooker_manager* live = nullptr;
  static inline callee_type orphan_callee = nullptr;
  static inline std::uintptr_t orphan_cell = 0;
};

// One registered hook at the site with host address A.
template <class Patch, hooking::host_address A, class FnPtr, class R, class... Args>
class function_hooker_base : public scoped_base {
 public:
  using manager_type = function_hooker_manager<Patch, function_hooker_base, R, Args...>;
  using hook_function = typename manager_type::hook_function;
  using next_type = typename manager_type::next_type;

  function_hooker_base() : manager(manager_type::instance()) {}
  function_hooker_base(function_hooker_base&& other)
      : address(other.address), hooked(other.hooked), manager(other.manager), outcome(other.outcome) {
    manager->transfer_hook(&other, this);
  }
  function_hooker_base& operator=(function_hooker_base&&) = delete;
  ~function_hooker_base() override { remove(); }

  void restore() override { remove(); }
  virtual void install(hook_function functor) = 0;

  bool is_hooked() const { return hooked; }
  // What the site's patch came to when this hook was installed.
  patch_outcome install_outcome() const { return outcome; }
  static constexpr hooking::host_address site = A;

  hooking::host_address address = A;

 protected:
  void remove() {
    hooked = false;
    manager->remove_hook(this);
  }

  bool hooked = false;
  std::shared_ptr<manager_type> manager;
  patch_outcome outcome = patch_outcome::not_attempted;
};

template <class Patch, hooking::host_address A, class Fn>
class function_hooker;

template <class Patch, hooking::host_address A, class R, class... Args>
class function_hooker<Patch, A, R(Args...)>
    : public function_hooker_base<Patch, A, R(HOST_CDECL*)(Args...), R, Args...> {
  using base = function_hooker_base<Patch, A, R(HOST_CDECL*)(Args...), R, Args...>;

 public:
  using typename base::hook_function;
  using typename base::manager_type;

  function_hooker() = default;
  function_hooker(function_hooker&&) = default;

  void install(hook_function functor) override {
    this->hooked = true;
    this->outcome = this->manager->add_hook(this, std::move(functor), &manager_type::call_hooks);
  }
};

}  // namespace patch
