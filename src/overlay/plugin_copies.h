// Copies of the plugin in one process (a renamed second file, or one in
// another plugin folder): the first one loaded draws the rings, every later
// one stands down and is named in the drawing copy's log. When the drawing
// copy is unloaded first, a copy that stood down takes over.
#pragma once

#include <string>
#include <vector>

namespace overlay {

// Called once at load. True: this copy is the one that draws (or the only
// one). False: another copy draws; this one has told it and must patch
// nothing.
bool claim_drawing_copy();

// False when this copy could not record its claim in the process's
// environment: a copy loaded after it would then draw too.
bool drawing_claim_recorded();

// The copies that stood down in favour of this one, by file path.
std::vector<std::string> copies_standing_down();

// At unload, after this copy's hooks are gone: lets go of the claim and hands
// the drawing over to a copy that stood down, if one is still loaded.
void leave_copies();

// Defined just before the plugin object: its construction makes the record
// of copies, its destruction comes after the hooks are gone and leaves.
struct copies_guard {
  copies_guard();
  ~copies_guard();
  copies_guard(const copies_guard&) = delete;
  copies_guard& operator=(const copies_guard&) = delete;
};

// Set by the plugin object: registers its handlers (which installs the hooks)
// when this copy takes over from an unloaded one.
void set_take_over(void (*register_handlers)());

}  // namespace overlay
