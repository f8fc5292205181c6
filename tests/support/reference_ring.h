// The ring's fan computed step by step as the drawing rules state them, with
// nothing cached: the oracle the plugin's vertices are compared with.
#pragma once

#include <cstdint>
#include <vector>

#include "host/renderware.h"

namespace test {

struct reference_fan {
  int segments = 0;
  std::vector<host::RwIm3DVertex> vertices;  // centre first, then segments + 1 rim vertices
};

// Empty when the fraction is not above 0.
// The rim lies radius from the centre; the texture coordinates do not change.
reference_fan reference_ring_fan(const float centre[3], float heading, float fraction, std::uint32_t colour,
                                 float radius = 1.0f);

std::uint32_t reference_colour(float fraction);
// Between a full-health and a low-health colour (red, green, blue), with an alpha byte.
std::uint32_t reference_colour(float fraction, const std::uint8_t full[3], const std::uint8_t low[3], std::uint32_t alpha);

// The heading the draw pass derives from the camera's forward axis.
float reference_heading(float forward_x, float forward_y);

// True when position, colour and texture coordinates agree bit for bit.
bool same_vertex(const host::RwIm3DVertex& a, const host::RwIm3DVertex& b);

}  // namespace test

namespace test {

// One fan drawn as the rules state it, recomputing everything; host calls
// included.
bool reference_draw_ring_fan(host::RwTexture* texture, const float centre[3], float heading, float fraction,
                             std::uint32_t colour);

}  // namespace test
