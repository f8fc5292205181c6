#include "tools/view/world.h"

#include "tools/view/camera.h"

#include <cmath>

namespace view {
namespace {

std::uint32_t shade(std::uint32_t colour, float light) {
  std::uint32_t out = colour & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const float c = static_cast<float>((colour >> shift) & 0xFF) * light;
    out |= static_cast<std::uint32_t>(c > 255.0f ? 255.0f : c) << shift;
  }
  return out;
}

void quad(std::vector<world_vertex>& out, const sim::vec3 (&c)[4], std::uint32_t colour) {
  const int order[6] = {0, 1, 2, 0, 2, 3};
  for (int i : order) out.push_back({c[i].x, c[i].y, c[i].z, colour, 0.0f, 0.0f});
}

// A box with each face lit by where it faces, so that edges read.
void box(std::vector<world_vertex>& out, sim::vec3 lo, sim::vec3 hi, std::uint32_t colour) {
  const sim::vec3 p[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z},
                          {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}};
  quad(out, {p[4], p[5], p[6], p[7]}, shade(colour, 1.0f));   // top
  quad(out, {p[0], p[3], p[2], p[1]}, shade(colour, 0.45f));  // bottom
  quad(out, {p[0], p[1], p[5], p[4]}, shade(colour, 0.85f));  // -y
  quad(out, {p[2], p[3], p[7], p[6]}, shade(colour, 0.6f));   // +y
  quad(out, {p[1], p[2], p[6], p[5]}, shade(colour, 0.75f));  // +x
  quad(out, {p[3], p[0], p[4], p[7]}, shade(colour, 0.7f));   // -x
}

// The scene's pieces of ground: each top with the grid on it, and its sides
// down to below the lowest top.
void ground_pieces(world_mesh& mesh, const std::vector<sim::ground_piece>& pieces) {
  float base = pieces.front().z;
  for (const sim::ground_piece& g : pieces) {
    for (float x : {g.min[0], g.max[0]}) {
      for (float y : {g.min[1], g.max[1]}) base = std::fmin(base, g.top(x, y));
    }
  }
  base -= 1.0f;
  constexpr float cell = 2.0f;
  for (const sim::ground_piece& g : pieces) {
    const float xs[4] = {g.min[0], g.max[0], g.max[0], g.min[0]}, ys[4] = {g.min[1], g.min[1], g.max[1], g.max[1]};
    sim::vec3 top[4], bottom[4];
    for (int i = 0; i < 4; ++i) {
      top[i] = {xs[i], ys[i], g.top(xs[i], ys[i])};
      bottom[i] = {xs[i], ys[i], base};
    }
    const int order[6] = {0, 1, 2, 0, 2, 3};
    for (int i : order) mesh.ground.push_back({top[i].x, top[i].y, top[i].z, 0xFFFFFFFFu, top[i].x / cell, top[i].y / cell});
    const float light[4] = {0.85f, 0.75f, 0.6f, 0.7f};
    for (int i = 0; i < 4; ++i) {
      const int j = (i + 1) % 4;
      quad(mesh.solids, {bottom[i], bottom[j], top[j], top[i]}, shade(block_colour, light[i]));
    }
  }
}

}  // namespace

world_mesh build_world(const sim::scenario& scene) {
  world_mesh mesh;
  const sim::vec3 player = player_position(scene);
  const float ground = player.z - feet_below_position;
  const bool pieces = !scene.ground.empty();

  if (pieces) {
    ground_pieces(mesh, scene.ground);
  } else {
    // A ground 400 units across, a grid cell every 2 units.
    constexpr float half = 200.0f, cell = 2.0f;
    const sim::vec3 g[4] = {{player.x - half, player.y - half, ground}, {player.x + half, player.y - half, ground},
                            {player.x + half, player.y + half, ground}, {player.x - half, player.y + half, ground}};
    const int order[6] = {0, 1, 2, 0, 2, 3};
    for (int i : order) mesh.ground.push_back({g[i].x, g[i].y, g[i].z, 0xFFFFFFFFu, g[i].x / cell, g[i].y / cell});
  }

  const auto figure = [&](sim::vec3 at, bool in_vehicle, bool dead, std::uint32_t colour) {
    const float feet = at.z - feet_below_position;
    // Where the scene has its own ground, what stands in the air stays there.
    if (!pieces && feet > ground) {
      box(mesh.solids, {at.x - 0.6f, at.y - 0.6f, ground}, {at.x + 0.6f, at.y + 0.6f, feet}, block_colour);
    }
    if (in_vehicle) {
      box(mesh.solids, {at.x - 2.2f, at.y - 1.0f, feet}, {at.x + 2.2f, at.y + 1.0f, feet + 1.5f}, car_colour);
    } else if (dead) {
      box(mesh.solids, {at.x - 0.9f, at.y - 0.3f, feet}, {at.x + 0.9f, at.y + 0.3f, feet + 0.35f}, colour);
    } else {
      box(mesh.solids, {at.x - 0.25f, at.y - 0.25f, feet}, {at.x + 0.25f, at.y + 0.25f, feet + figure_height}, colour);
    }
  };
  if (scene.player) figure(player, false, false, player_colour);
  for (const sim::ped_setup& p : scene.peds) {
    if (p.visible) figure(p.position, p.in_vehicle, !(p.health > 0.0f), pedestrian_colour);
  }
  for (const sim::wall& w : scene.walls) box(mesh.solids, w.min, w.max, wall_colour);
  return mesh;
}

std::vector<std::uint32_t> grid_texture(int side) {
  std::vector<std::uint32_t> texels(static_cast<std::size_t>(side) * side, 0xFF5A6B4Eu);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      if (x < side / 32 + 1 || y < side / 32 + 1) texels[static_cast<std::size_t>(y) * side + x] = 0xFF7D8C70u;
    }
  }
  return texels;
}

}  // namespace view
