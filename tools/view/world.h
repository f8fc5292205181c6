// The world around the rings, drawn before them with depth writes on: the
// ground at the player's feet, a figure for every visible pedestrian, a car
// for one in a vehicle, blocks under the raised, and the scenario's walls.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/scenario.h"

namespace view {

// Laid out as Direct3D's XYZ | DIFFUSE | TEX1 vertex.
struct world_vertex {
  float x, y, z;
  std::uint32_t colour;  // 0xAARRGGBB
  float u, v;
};

struct world_mesh {
  std::vector<world_vertex> ground;     // triangle list, textured with the grid
  std::vector<world_vertex> solids;     // triangle list, untextured
};

constexpr std::uint32_t player_colour = 0xFF3C78D8;
constexpr std::uint32_t pedestrian_colour = 0xFFC8A078;
constexpr std::uint32_t car_colour = 0xFF9A3030;
constexpr std::uint32_t block_colour = 0xFF8C8C8C;
constexpr std::uint32_t wall_colour = 0xFF6E6456;
constexpr float figure_height = 1.8f;
constexpr float feet_below_position = 1.0f;

world_mesh build_world(const sim::scenario& scene);

// The grid the ground is drawn with: side x side texels, 0xAARRGGBB.
std::vector<std::uint32_t> grid_texture(int side);

}  // namespace view
