// Scenes for measuring the drawing event: the simulated game laid out once,
// the plugin registered, its textures loaded, the doubles not recording.
#pragma once

#include <cstdint>

#include "hooking/host_version.h"

namespace bench {

// fast: the plugin's own pass as a player has it by default. overlays: with
// armour, recent damage, the fade and rings only after damage all on, every
// pedestrian in full armour and hit once every 100 frames in turn, on a
// clock of 33 ms a frame.
enum class ring_path { fast, overlays };

// Prepares the game once; then sets a scene of this many pedestrians in
// range (mixed healths) in a pool of at least 140 slots.
void set_scene(int peds_in_range);

// One drawing event: the game's patched call site, through call_hooks and the
// hub's dispatch to the draw handler.
void* run_drawing_event(ring_path path);

// A game function of its own whose call at site does nothing but return, for
// measuring an event's dispatch alone; and running it.
void make_site(hooking::host_address site);
void* run_site(hooking::host_address site);

}  // namespace bench
