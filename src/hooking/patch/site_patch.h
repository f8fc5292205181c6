// Redirecting one call instruction to an entry, verified as written.
#pragma once

#include <cstdint>

#include "hooking/patch/code_writer.h"
#include "hooking/patch/instruction.h"
#include "hooking/patch/patch_outcome.h"

namespace patch {

struct site_patch {
  patch_outcome outcome = patch_outcome::not_attempted;
  std::uintptr_t callee = 0;  // what the site called before
  std::uintptr_t cell = 0;    // the pointer cell of a CALL [abs32] site, 0 for CALL rel32
};

// Writes a call of entry over the call at site, through patch (which keeps
// the bytes it replaced and gives them back).
template <class Patch>
site_patch patch_call_site(Patch& patch, std::uintptr_t site, std::uintptr_t entry) {
  site_patch result;
  // Only a call can be taken over. Code reached by a jump (another module's
  // detour) ends by jumping back behind the site; called from our entry, it
  // would run the rest of the game's function inside our frame.
  const branch_form form = branch_form_at(site);
  if (form == branch_form::jump_relative || form == branch_form::jump_indirect) {
    result.outcome = patch_outcome::left_alone_jump;
    return result;
  }
  if (form == branch_form::none) {
    result.outcome = patch_outcome::left_alone_no_call;
    return result;
  }
  // Without a destination to chain to, the game's next pass through the
  // site would jump to 0: leave the site alone.
  const std::uintptr_t target = call_target_at(site);
  if (target == 0) {
    result.outcome = patch_outcome::left_alone_no_destination;
    return result;
  }
  if (target == entry) {
    result.outcome = patch_outcome::left_alone_own_entry;
    return result;
  }
  const std::size_t length = branch_length(form);
  patch.save(site, length, true);
  result.outcome = patch_outcome::protection_failed;
  if (!patch.has_saved()) return result;
  std::uint8_t bytes[8];
  encode_call(site, entry, length, bytes);
  const std::uintptr_t cell = form == branch_form::call_indirect ? indirect_cell_at(site) : 0;
  if (!write_code_bytes(site, bytes, length, true)) {
    patch.forget();
    return result;
  }
  patch.claim(bytes);
  if (!patch.still_ours() || call_target_at(site) != entry) {
    patch.disown();
    patch.put_back();  // a half-written instruction must not stay
    result.outcome = patch_outcome::not_verified;
    return result;
  }
  result = site_patch{patch_outcome::hooked, target, cell};
  return result;
}

}  // namespace patch
