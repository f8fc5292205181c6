// Whether a drawn disc lies on the ground of a scene as a ring should, worked
// out here from the scene's pieces: walking out from the hub, the ring climbs
// at most 0.6 from the ground just behind it (a canopy above is not its
// ground), a vehicle is ground only where the hub stands on it, and every
// part lies 0.09 above that ground (level with the centre's where that ground
// lies beyond the follow band, or where there is none).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/scene.h"

namespace test {

struct drawn_disc {
  std::vector<std::array<float, 3>> points;  // the hub first
  std::vector<std::uint16_t> indices;        // triangles, counted from the hub
};

struct ground_verdict {
  int vertices = 0;
  int off = 0;            // vertices not where the rule puts them
  std::string first_off;  // the first of them, said
  double on = 0.0;        // share of the area 0.09 +- 0.03 above the ring's ground
};

// The disc as drawn in drawing event frame (for the pieces present then).
ground_verdict check_on_ground(const std::vector<sim::ground_piece>& ground, const drawn_disc& disc,
                               std::int32_t frame = 0);

// The highest top over (x, y) of the pieces, or false where there is none.
bool scene_ground(const std::vector<sim::ground_piece>& ground, float x, float y, float* z);

// A scene of the game's ground with a pedestrian on each kind: flat, in the
// air, a 20 degree slope, stairs (risers 0.2, treads 0.3), a kerb (0.15), a
// ledge 0.2 wide and 0.3 high, under a canopy 2.4 up, on a car's roof (a
// vehicle's box), beside a crate taken away after event 12, beside a bin put
// down at event 20, and one walking up the stairs; the camera looking along
// +y or, seen from above the stairs, along -y.
struct ground_ped {
  const char* where;
  int slot;
  float x, y;
};
extern const ground_ped ground_peds[11];
constexpr std::int32_t crate_gone = 13;  // the first event without it
constexpr std::int32_t bin_down = 20;    // the first event with it
nlohmann::json ground_scene(bool looking_down_the_stairs, int events);

// Which of ground_peds a disc belongs to, by its hub; null for none.
const ground_ped* ground_ped_at(float x, float y);

// A run of ground_scene judged from its trace: from event settle on, every
// ring drawn (but the crate's for the 10 events after it went and the bin's
// for the 30 after it came), every vertex of its background and health fans
// where the rule puts it and at least 98 % of its background's area; and no
// event asking more than 64 queries. Empty when all holds, else what did not.
struct ground_run {
  std::string failure;
  int discs_checked = 0;
  int most_queries = 0;   // in one event
  double least_on = 1.0;  // of a background's area
};
// Every stride-th event from settle is judged, and every event of the
// crate's and the bin's windows.
ground_run judge_ground_run(const nlohmann::json& scene, const std::vector<nlohmann::json>& trace, int settle,
                            int stride = 1);

}  // namespace test
