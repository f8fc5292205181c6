// Scenes for measuring the drawing event: the simulated game laid out once,
// the plugin registered, its textures loaded, the doubles not recording.
#pragma once

#include <cstdint>

namespace bench {

// overlays: the plugin's own pass with armour, recent damage, the fade and
// rings only after damage all on, every pedestrian in full armour and hit
// once every 100 frames in turn, on a clock of 33 ms a frame.
enum class ring_path { fast, reference, overlays };

// Prepares the game once; then sets a scene of this many pedestrians in
// range (mixed healths) in a pool of at least 140 slots.
void set_scene(int peds_in_range);

// One drawing event: the game's patched call site, through call_hooks and the
// hub's dispatch to the draw handler. The reference path runs the same way
// from a call site of its own whose handler draws with the reference rings.
void* run_drawing_event(ring_path path);

}  // namespace bench
