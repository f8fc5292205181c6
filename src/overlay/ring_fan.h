// The health ring of one pedestrian: a background disc and a foreground pie
// whose angle is the health fraction.
#pragma once

#include <cstdint>

#include "host/renderware.h"
#include "overlay/damage_memory.h"

namespace overlay {

constexpr int full_disc_segments = 48;
constexpr unsigned max_fan_vertices = full_disc_segments + 2;

// Filters the pedestrian, counts it and draws its ring.
void draw_ped_ring(const std::uint8_t* ped, host::RwTexture* background, float heading,
                   host::RwTexture* foreground);

// The same with the player's overlays (armour, recent damage, fade, rings
// only after damage): memory is the pedestrian's slot, now_ms the game's clock.
void draw_ped_ring_overlays(const std::uint8_t* ped, host::RwTexture* background, float heading,
                            host::RwTexture* foreground, const slot_memory& memory, std::uint32_t now_ms);

// A pedestrian's clamped health fraction.
float health_fraction(const std::uint8_t* ped);

// The armour arc's radius, of the ring's: with the shipped "hpar" its band
// lies just outside the health band.
constexpr float armour_radius = 1.3f;

// One textured triangle fan in world space; true when the host drew it.
bool draw_ring_fan(host::RwTexture* texture, const float* centre, float heading, float fraction,
                   std::uint32_t colour, float radius = 1.0f);

// Vertex colour of the foreground pie for a clamped health fraction, from the
// full-health and low-health colours (the settings' defaults, green and red,
// unless given) and an alpha byte.
std::uint32_t ring_colour(float fraction, const std::uint8_t* full = nullptr, const std::uint8_t* low = nullptr,
                          std::uint32_t alpha = 255);

}  // namespace overlay
