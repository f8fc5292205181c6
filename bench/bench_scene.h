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
// walking: the default pass over the walking scene. who: every setting that
// tells who is who on (ShowRelationship, OnlyInFight, MarkTarget, ShowKinds of
// civilians, gangs and police), over pedestrians of those kinds, a third of
// them attacking the player, seven in its group, ten police after it, the
// rest liking or hating it, one locked on to.
// ground: the default pass over the same pedestrians standing on one flat
// piece of ground the collision queries meet.
enum class ring_path { fast, overlays, walking, who, ground };

// Prepares the game once; then sets a scene of this many pedestrians in
// range (mixed healths) in a pool of at least 140 slots.
void set_scene(int peds_in_range);

// Thirty pedestrians walking at 1.4 units a second, 30 frames a second: half
// up and down a 15 degree street, half up and down a stairway (risers 0.2,
// treads 0.3), turning at their ends.
void set_walking_scene();

// Probes of the ground and rings planned since the scene was set.
struct probe_count {
  std::uint64_t probes = 0;
  std::uint64_t rings = 0;
};
probe_count probes_so_far();

// One drawing event: the game's patched call site, through call_hooks and the
// hub's dispatch to the draw handler.
void* run_drawing_event(ring_path path);

// A game function of its own whose call at site does nothing but return, for
// measuring an event's dispatch alone; and running it.
void make_site(hooking::host_address site);
void* run_site(hooking::host_address site);

}  // namespace bench
