#include "tests/support/ground_check.h"

#include <cmath>

namespace test {

bool scene_ground(const std::vector<sim::ground_piece>& ground, float x, float y, float* z) {
  bool found = false;
  for (const sim::ground_piece& g : ground) {
    if (x < g.min[0] || x > g.max[0] || y < g.min[1] || y > g.max[1]) continue;
    const float top = g.z + g.slope[0] * (x - g.min[0]) + g.slope[1] * (y - g.min[1]);
    if (!found || top > *z) *z = top;
    found = true;
  }
  return found;
}

ground_verdict check_on_ground(const std::vector<sim::ground_piece>& ground, const drawn_disc& disc) {
  ground_verdict v;
  const auto& p = disc.points;
  if (p.empty()) return v;
  float centre = 0.0f;
  if (!scene_ground(ground, p[0][0], p[0][1], &centre)) return v;
  float radius = 0.0f;
  for (const auto& q : p) radius = std::fmax(radius, std::hypot(q[0] - p[0][0], q[1] - p[0][1]));

  for (const auto& q : p) {
    ++v.vertices;
    // Within 0.1 of a step's edge either side's height will do.
    bool fits = false;
    for (float dx = -0.1f; dx <= 0.1001f && !fits; dx += 0.025f) {
      for (float dy = -0.1f; dy <= 0.1001f && !fits; dy += 0.025f) {
        float g = 0.0f;
        if (!scene_ground(ground, q[0] + dx, q[1] + dy, &g)) continue;
        const bool followed = std::fabs(g - centre) <= 0.85f * radius;
        const float expected = (followed ? g : centre) + 0.09f;
        fits = std::fabs(q[2] - expected) <= 0.03f;
      }
    }
    if (!fits && ++v.off == 1) {
      v.first_off = "vertex (" + std::to_string(q[0]) + ", " + std::to_string(q[1]) + ", " + std::to_string(q[2]) + ")";
    }
  }

  // The area above the ground, sampled over each triangle.
  constexpr int n = 8;
  double total = 0.0, above = 0.0;
  for (std::size_t t = 0; t + 2 < disc.indices.size(); t += 3) {
    const auto& a = p.at(disc.indices[t]);
    const auto& b = p.at(disc.indices[t + 1]);
    const auto& c = p.at(disc.indices[t + 2]);
    const double area = std::fabs((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1])) / 2.0;
    int samples = 0, up = 0;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; i + j < n; ++j) {
        const float s = (i + 1.0f / 3.0f) / n, r = (j + 1.0f / 3.0f) / n, w = 1.0f - s - r;
        const float x = w * a[0] + s * b[0] + r * c[0], y = w * a[1] + s * b[1] + r * c[1];
        const float z = w * a[2] + s * b[2] + r * c[2];
        float g = 0.0f;
        ++samples;
        up += !scene_ground(ground, x, y, &g) || z >= g;
      }
    }
    total += area;
    above += area * up / samples;
  }
  v.above = total > 0.0 ? above / total : 0.0;
  return v;
}

const ground_ped ground_peds[5] = {{"flat", 1, -2.0f, 2.0f, 1.0},     {"in the air", 2, 2.0f, 2.0f, 0.95},
                                   {"slope", 3, 10.0f, 0.0f, 0.95},    {"stairs", 4, -11.0f, 0.15f, 0.85},
                                   {"kerb", 5, 0.0f, 7.6f, 0.95}};

nlohmann::json ground_scene(bool looking_down_the_stairs) {
  using nlohmann::json;
  const float rise = 0.36397023f;  // tan 20 degrees
  json ground = json::array();
  ground.push_back({{"min", {-4, -4}}, {"max", {4, 4}}, {"z", 0}});                                   // flat
  ground.push_back({{"min", {6, -5}}, {"max", {16, 5}}, {"z", 0}, {"slope", {rise, 0}}});               // slope
  for (int k = 0; k < 20; ++k) {                                                                      // stairs
    ground.push_back({{"min", {-16, -3 + 0.3 * k}}, {"max", {-6, -3 + 0.3 * (k + 1)}}, {"z", 0.2 * k}});
  }
  ground.push_back({{"min", {-4, 6}}, {"max", {4, 8}}, {"z", 0}});                                    // road
  ground.push_back({{"min", {-4, 8}}, {"max", {4, 12}}, {"z", 0.15}});                                // kerb
  const auto on = [&](float x, float y, float above) {
    float z = 0.0f;
    std::vector<sim::ground_piece> pieces;
    for (const json& g : ground) {
      sim::ground_piece p;
      p.min[0] = g["min"][0];
      p.min[1] = g["min"][1];
      p.max[0] = g["max"][0];
      p.max[1] = g["max"][1];
      p.z = g["z"];
      if (g.contains("slope")) p.slope[0] = g["slope"][0];
      pieces.push_back(p);
    }
    scene_ground(pieces, x, y, &z);
    return json::array({x, y, z + above});
  };
  json peds = json::array();
  for (const ground_ped& p : ground_peds) {
    peds.push_back({{"slot", p.slot}, {"position", on(p.x, p.y, std::string(p.where) == "in the air" ? 2.5f : 1.0f)}});
  }
  return {{"player", {{"position", {0, 0, 1}}}},
          {"camera_forward", {0, looking_down_the_stairs ? -1 : 1}},
          {"ground", ground},
          {"peds", peds},
          {"events", {"start_up", "draw"}}};
}

}  // namespace test
