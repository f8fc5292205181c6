// Call hooks: one CALL instruction of the game redirected to a per-site entry
// that runs a chain of hook functions around the function it used to call.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "hooking/calling_convention.h"
#include "hooking/host_version.h"
#include "hooking/patch/code_access.h"
#include "hooking/patch/scoped_patch.h"

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

  function_hooker_manager() = default;
  ~function_hooker_manager() override {
    hooks.clear();
    Patch::restore();
  }

  static std::shared_ptr<function_hooker_manager> instance() {
    static std::shared_ptr<function_hooker_manager> holder =
        std::make_shared<function_hooker_manager>();
    return holder;
  }

  void add_hook(Hooker* hooker, hook_function functor, callee_type entry) {
    register_hook(hooker, std::move(functor));
    if (!hooked) patch_site(hooking::resolve_host_address(hooker->address), entry);
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
    Patch::restore();
  }

  // The patched CALL leads here.
  static R HOST_ENTRY call_hooks() {
    function_hooker_manager* m = instance().get();
    call_state state{m};
    try {
      if (m->hooks.empty()) return m->saved_callee();
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
      return state.called ? state.result : m->saved_callee();
    }
  }

  bool is_hooked() const { return hooked; }
  callee_type callee() const { return saved_callee; }
  const std::vector<entry_type>& entries() const { return hooks; }

 private:
  struct call_state {
    function_hooker_manager* manager;
    bool called = false;
    R result{};
    R call_callee() {
      result = manager->saved_callee();
      called = true;
      return result;
    }
  };

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

  void patch_site(std::uintptr_t site, callee_type entry) {
    // Only a call can be taken over. Code reached by a jump (another module's
    // detour) ends by jumping back behind the site; called from our entry, it
    // would run the rest of the game's function inside our frame.
    const branch_form form = branch_form_at(site);
    if (form != branch_form::call_relative && form != branch_form::call_indirect) return;
    // Without a destination to chain to, the game's next pass through the
    // site would jump to 0: leave the site alone.
    if (call_target_at(site) == 0) return;
    const std::size_t length = branch_length(form);
    this->save(site, length, true);
    if (!this->saved) return;
    const std::uintptr_t previous = write_call(site, reinterpret_cast<std::uintptr_t>(entry));
    if (length > 5) pad_with_nops(site + 5, length - 5);
    if (!leads_to(site, length, entry)) {
      Patch::restore();  // a half-written instruction must not stay
      return;
    }
    saved_callee = reinterpret_cast<callee_type>(previous);
    hooked = true;
  }

  static void pad_with_nops(std::uintptr_t at, std::size_t count) {
    const std::uint8_t nops[4] = {0x90, 0x90, 0x90, 0x90};
    write_code_bytes(at, nops, count, true);
  }

  static bool leads_to(std::uintptr_t site, std::size_t length, callee_type entry) {
    if (call_target_at(site) != reinterpret_cast<std::uintptr_t>(entry)) return false;
    std::uint8_t tail[4] = {};
    if (!read_code_bytes(site + 5, tail, length - 5, true)) return false;
    for (std::size_t i = 0; i < length - 5; ++i) {
      if (tail[i] != 0x90) return false;
    }
    return true;
  }

  callee_type saved_callee = nullptr;
  std::vector<entry_type> hooks;
  bool hooked = false;
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
      : address(other.address), hooked(other.hooked), manager(other.manager) {
    manager->transfer_hook(&other, this);
  }
  function_hooker_base& operator=(function_hooker_base&&) = delete;
  ~function_hooker_base() override { remove(); }

  void restore() override { remove(); }
  virtual void install(hook_function functor) = 0;

  bool is_hooked() const { return hooked; }
  static constexpr hooking::host_address site = A;

  hooking::host_address address = A;

 protected:
  void remove() {
    hooked = false;
    manager->remove_hook(this);
  }

  bool hooked = false;
  std::shared_ptr<manager_type> manager;
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
    this->manager->add_hook(this, std::move(functor), &manager_type::call_hooks);
  }
};

// The hooks of one site that stay installed for the life of the process,
// destroyed first to last at exit.
template <class Hook>
std::list<Hook>& hook_store() {
  static std::list<Hook> store;
  return store;
}

}  // namespace patch
