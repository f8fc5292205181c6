// What patching a call site, and giving it back, came to: values the overlay
// turns into log lines.
#pragma once

#include "hooking/patch/scoped_patch.h"

namespace patch {

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

// The site given back, when its last hook went.
struct release_report {
  restore_outcome restore = restore_outcome::nothing_saved;
  bool pin_needed = false;  // the site may still lead into this module
  bool pinned = false;      // and the module stays mapped for it
};

}  // namespace patch
