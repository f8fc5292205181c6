// The drawing handed from a copy of the plugin that is unloaded to one that
// stood down for it: the log goes on where it was, the player's settings are
// read from the same file, and the rings stay shown or hidden as they were.
#pragma once

#include <string>

#include "overlay/copy_link.h"

namespace overlay {

// What this copy hands over; points into the plugin state, so valid while
// this copy is loaded.
hand_over hand_over_of_this_copy(const char* own_path);
// After the hand-over: the dictionary is the other copy's now.
void handed_over();

// In the copy that draws from now on, inside the leaving copy's unload (under
// the loader lock): takes the log and the textures; the settings are read at
// the next drawing event, on the game's thread.
void take_hand_over(const hand_over& from, const std::string& own_path);
// At a drawing event: what the hand-over left to do.
void finish_hand_over();

}  // namespace overlay
