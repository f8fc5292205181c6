// Call hooks: one CALL instruction of the game redirected to a per-site entry
// that runs a chain of hook functions around the function it used to call.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "hooking/calling_convention.h"
#include "hooking/host_version.h"
#include "hooking/patch/code_writer.h"
#include "hooking/patch/instruction.h"
#include "hooking/patch/scoped_patch.h"
#include "platform/os.h"

namespace patch {

// What patching a site came to.
enum class patch_outcome {
  not_attempted,
  hooked,
  left_alone_jump,            // another module redirected it with a jump
  left_alone_no_call,         // it holds no call instruction
  left_alone_no_destination,  // its call leads nowhere that can be read
  left_alone_own_entry,       // it already calls this site's entry
  taken_over,                 // another module took it over after us; it may still call us
  protection_failed,          // its code could not be opened for writing
  not_verified,               // written, but it did not read back as written: undone
};

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
    if (Patch::put_back() == restore_outcome::not_ours) pin();
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
    if (!hooked) outcome = abandoned ? patch_outcome::taken_over
                                     : patch_site(hooking::resolve_host_address(hooker->address), entry);
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
    if (Patch::put_back() == restore_outcome::not_ours) {
      // The module that wrote over us calls our entry for as long as it
      // lives: our code must stay, and we never patch this site again.
      abandoned = true;
      pin();
    }
  }

  // The patched CALL leads here.
  static R HOST_ENTRY call_hooks() {
    function_hooker_manager* m = live;
    if (m == nullptr) return call_orphan();
    if (m->hooked && !m->pin_asked && !m->site_holds_our_call()) m->pin();
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

  // A CALL through a pointer follows its cell on every pass, as the game's
  // own instruction would; a cell pointed at our entry would call us forever.
  static callee_type read_callee(callee_type fixed, std::uintptr_t cell) {
    if (cell == 0) return fixed;
    callee_type current = nullptr;
    std::memcpy(&current, reinterpret_cast<const void*>(cell), sizeof current);
    if (current == nullptr || current == &function_hooker_manager::call_hooks) return fixed;
    return current;
  }
  callee_type callee_now() const { return read_callee(saved_callee, callee_cell); }

  // The manager is gone but its module was pinned: someone still calls the
  // entry, and the game's function is all there is to call.
  static R call_orphan() {
    const callee_type callee = read_callee(orphan_callee, orphan_cell);
    return callee ? callee() : R{};
  }

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

  // Asked once: a refusal is not asked again on every pass.
  void pin() {
    if (pin_asked) return;
    pin_asked = true;
    os::pin_module(reinterpret_cast<const void*>(&function_hooker_manager::call_hooks));
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

  patch_outcome patch_site(std::uintptr_t site, callee_type entry) {
    // Only a call can be taken over. Code reached by a jump (another module's
    // detour) ends by jumping back behind the site; called from our entry, it
    // would run the rest of the game's function inside our frame.
    const branch_form form = branch_form_at(site);
    if (form == branch_form::jump_relative || form == branch_form::jump_indirect) return patch_outcome::left_alone_jump;
    if (form == branch_form::none) return patch_outcome::left_alone_no_call;
    // Without a destination to chain to, the game's next pass through the
    // site would jump to 0: leave the site alone.
    const std::uintptr_t target = call_target_at(site);
    if (target == 0) return patch_outcome::left_alone_no_destination;
    if (target == reinterpret_cast<std::uintptr_t>(entry)) return patch_outcome::left_alone_own_entry;
    const std::size_t length = branch_length(form);
    this->save(site, length, true);
    if (!this->saved) return patch_outcome::protection_failed;
    std::uint8_t bytes[8];
    encode_call(site, reinterpret_cast<std::uintptr_t>(entry), length, bytes);
    const std::uintptr_t cell = form == branch_form::call_indirect ? indirect_cell_at(site) : 0;
    if (!write_code_bytes(site, bytes, length, true)) {
      this->saved = false;
      return patch_outcome::protection_failed;
    }
    this->claim(bytes);
    if (!this->still_ours() || call_target_at(site) != reinterpret_cast<std::uintptr_t>(entry)) {
      this->claimed = false;
      Patch::put_back();  // a half-written instruction must not stay
      return patch_outcome::not_verified;
    }
    saved_callee = reinterpret_cast<callee_type>(target);
    callee_cell = cell;
    hooked = true;
    return patch_outcome::hooked;
  }

  callee_type saved_callee = nullptr;
  std::uintptr_t callee_cell = 0;  // the pointer cell of a CALL [abs32] site
  std::vector<entry_type> hooks;
  bool hooked = false;
  bool abandoned = false;
  bool pin_asked = false;
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

// The hooks of one site that stay installed for the life of the process,
// destroyed first to last at exit.
template <class Hook>
std::list<Hook>& hook_store() {
  static std::list<Hook> store;
  return store;
}

}  // namespace patch
