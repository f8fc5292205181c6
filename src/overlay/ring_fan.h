// The fans a ring is made of: a background disc, and pies whose angle is a
// share of the disc, laid on the ground under the pedestrian.
#pragma once

#include <cstdint>

#include "host/renderware.h"
#include "overlay/ring_ground.h"

namespace overlay {

constexpr int full_disc_segments = 48;

// The armour arc's radius, of the ring's: with the shipped "hpar" its band
// lies just outside the health band.
constexpr float armour_radius = 1.3f;
// The relationship band's, of the ring's: drawn with "hpar", it lies just
// outside the armour arc.
constexpr float relationship_radius = 1.55f;
// The player's target's ring, of the others'.
constexpr float target_scale = 1.25f;

// Where a ring lies in one frame.
struct ring_place {
  float x = 0.0f, y = 0.0f;  // the pedestrian's position
  float flat_z = 0.0f;       // where every part lies on flat ground
  ground_under ground;
};

// The ring's place for a pedestrian at position (x, y, z) over that ground.
ring_place place_ring(float x, float y, float z, const ground_under& ground);

// The height of a part over ground rising rise from the centre's.
inline float part_z(const ring_place& at, double rise) {
  constexpr float air_lift = 0.09f;  // above the ground, as the game's shadow lies
  const ground_under& g = at.ground;
  if (!g.found) return at.flat_z;
  const auto r = static_cast<float>(rise);
  return g.on_ground ? at.flat_z + r : (g.centre + r) + air_lift;
}

// A fan that is one plane, hub and rim: level, or rising gx, gy per unit.
struct fan_plane {
  double gx = 0.0, gy = 0.0;
};

// What a pedestrian's ring is in one frame: where it lies and which fans,
// with which alpha, it has.
struct ring_plan {
  std::int32_t slot = 0;
  std::uint8_t status = 0;  // the slot's, telling a new pedestrian in it
  float at[3] = {};         // the pedestrian's position
  float distance = 0.0f;    // from the player
  ring_place place;
  float fraction = 0.0f;  // of health
  float trail = 0.0f;     // the recent damage reaches this far; none at or below fraction
  float armour = 0.0f;    // none at 0
  std::uint32_t alpha = 0;
  float scale = 1.0f;     // of every fan's radius
  const std::uint8_t* band = nullptr;  // the relationship band's colour, or none
  bool refused = false;   // a batch holding one of its fans was refused
};

struct fan_size {
  std::uint32_t vertices = 0;
  std::uint32_t indices = 0;
};

// The plain fan of fraction (0, 1] of a disc: hub and rim. None for other
// fractions.
fan_size fan_size_of(const ring_place& at, float fraction, float radius);

// Writes that fan as a triangle list over plane: its vertices at v, its
// indices at indices, counted from first (its hub's index in the batch).
void write_fan(const ring_place& at, float heading, float fraction, std::uint32_t colour, float radius,
               host::RwIm3DVertex* v, std::uint16_t* indices, std::uint32_t first, const fan_plane& plane = {});

// A fan's outline: its rim's points and their texture coordinates, from the
// first (at the heading) clockwise; the hub is the pedestrian's (u = v = 0.5).
struct fan_outline {
  int segments = 0;
  float x[full_disc_segments + 1], y[full_disc_segments + 1];
  float u[full_disc_segments + 1], v[full_disc_segments + 1];
};
bool outline_of(const ring_place& at, float heading, float fraction, float radius, fan_outline* out);

// Vertex colour of the health pie for a clamped health fraction, from the
// full-health and low-health colours (the settings' defaults, green and red,
// unless given) and an alpha byte.
std::uint32_t ring_colour(float fraction, const std::uint8_t* full = nullptr, const std::uint8_t* low = nullptr,
                          std::uint32_t alpha = 255);

}  // namespace overlay
