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

// In the copy that draws from now on.
void take_hand_over(const hand_over& from, const std::string& own_path);

}  // namespace overlay
