// The health ring of one pedestrian: a background disc and a foreground pie
// whose angle is the health fraction.
#pragma once

#include <cstdint>

#include "host/renderware.h"

namespace overlay {

constexpr int full_disc_segments = 48;
constexpr unsigned max_fan_vertices = full_disc_segments + 2;

// Filters the pedestrian, counts it and draws its ring.
void draw_ped_ring(const std::uint8_t* ped, host::RwTexture* background, float heading,
                   host::RwTexture* foreground);

// One textured triangle fan in world space; true when the host drew it.
bool draw_ring_fan(host::RwTexture* texture, const float* centre, float heading, float fraction,
                   std::uint32_t colour, float radius = 1.0f);

// Vertex colour of the foreground pie for a clamped health fraction, from the
// full-health and low-health colours (green and red unless set otherwise)
// and an alpha byte.
std::uint32_t ring_colour(float fraction, const std::uint8_t* full = nullptr, const std::uint8_t* low = nullptr,
                          std::uint32_t alpha = 255);

}  // namespace overlay
