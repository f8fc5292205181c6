// A ring's fan laid on uneven ground as the game lays its shadows: cut along
// the edges of the ground's patches under it, each piece in its patch's
// plane, nothing on the risers between them.
#pragma once

#include <cstdint>

#include "overlay/ring_fan.h"

namespace overlay {

// Whether a fan of that radius lies on one plane of its ground (hub and rim
// then do), and which.
bool plain_fan(const ring_place& at, float radius, fan_plane* plane);

// The fan cut along its ground, as a triangle list whose indices count from
// its hub, vertex 0; its last vertex lies on its rim. Sized once: a fan too
// large for it keeps what fits.
struct decal_mesh {
  static constexpr std::uint32_t max_vertices = 1024;
  static constexpr std::uint32_t max_indices = 3072;
  host::RwIm3DVertex vertices[max_vertices] = {};
  std::uint16_t indices[max_indices] = {};
  std::uint32_t vertex_count = 0, index_count = 0;
};

// False for a fraction that makes no fan.
bool cut_fan(const ring_place& at, float heading, float fraction, std::uint32_t colour, float radius, decal_mesh* out);

}  // namespace overlay
