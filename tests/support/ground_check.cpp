#include "tests/support/ground_check.h"

#include <cmath>
#include <map>

#include "sim/scenario.h"
#include "tests/support/who_model.h"

namespace test {
namespace {

constexpr float climb = 0.6f;
constexpr float walk_step = 0.1f;

// The highest top over (x, y) at or below from, present in frame; a
// vehicle's only where it is the one stood on.
int top_below(const std::vector<sim::ground_piece>& ground, float x, float y, float from, std::int32_t frame,
              int stood_on, float* top) {
  int found = -1;
  for (std::size_t i = 0; i < ground.size(); ++i) {
    const sim::ground_piece& g = ground[i];
    if (!g.covers(x, y) || !(frame == 0 || g.present(frame))) continue;
    if (g.vehicle && static_cast<int>(i) != stood_on) continue;
    const float t = g.top(x, y);
    if (t <= from && (found < 0 || t > *top)) *top = t, found = static_cast<int>(i);
  }
  return found;
}

struct ring_model {
  const std::vector<sim::ground_piece>& ground;
  std::int32_t frame;
  float hx, hy, centre;
  int centre_piece;
  float radius;

  // Where a part at (x, y) lies.
  float expected(float x, float y) const {
    const float dx = x - hx, dy = y - hy;
    const int steps = static_cast<int>(std::ceil(std::hypot(dx, dy) / walk_step));
    float ref = centre;
    bool have = true;
    for (int s = 1; s <= steps; ++s) {
      const float t = static_cast<float>(s) / static_cast<float>(steps);
      float top = 0.0f;
      have = top_below(ground, hx + dx * t, hy + dy * t, ref + climb + 1e-4f, frame, centre_piece, &top) >= 0;
      if (have) ref = top;
    }
    const bool followed = have && std::fabs(ref - centre) <= 0.85f * radius;
    return (followed ? ref : centre) + 0.09f;
  }
};

}  // namespace

bool scene_ground(const std::vector<sim::ground_piece>& ground, float x, float y, float* z) {
  bool found = false;
  for (const sim::ground_piece& g : ground) {
    if (!g.covers(x, y)) continue;
    const float top = g.top(x, y);
    if (!found || top > *z) *z = top;
    found = true;
  }
  return found;
}

ground_verdict check_on_ground(const std::vector<sim::ground_piece>& ground, const drawn_disc& disc, std::int32_t frame) {
  ground_verdict v;
  const auto& p = disc.points;
  if (p.empty()) return v;
  // The centre's ground: the hub lies 0.09 above it.
  float centre = 0.0f;
  int stood_on = -1;
  for (std::size_t i = 0; i < ground.size(); ++i) {
    const sim::ground_piece& g = ground[i];
    if (!g.covers(p[0][0], p[0][1]) || !(frame == 0 || g.present(frame))) continue;
    const float t = g.top(p[0][0], p[0][1]);
    if (t <= p[0][2] - 0.06f && (stood_on < 0 || t > centre)) centre = t, stood_on = static_cast<int>(i);
  }
  if (stood_on < 0) return v;
  float radius = 0.0f;
  for (const auto& q : p) radius = std::fmax(radius, std::hypot(q[0] - p[0][0], q[1] - p[0][1]));
  const ring_model model{ground, frame, p[0][0], p[0][1], centre, stood_on, radius};

  for (const auto& q : p) {
    ++v.vertices;
    // Within 0.1 of a step's edge either side's height will do.
    bool fits = false;
    for (float dx = -0.1f; dx <= 0.1001f && !fits; dx += 0.05f) {
      for (float dy = -0.1f; dy <= 0.1001f && !fits; dy += 0.05f) {
        fits = std::fabs(q[2] - model.expected(q[0] + dx, q[1] + dy)) <= 0.03f;
      }
    }
    if (!fits && ++v.off == 1) {
      v.first_off = "vertex (" + std::to_string(q[0]) + ", " + std::to_string(q[1]) + ", " + std::to_string(q[2]) +
                    ") expected " + std::to_string(model.expected(q[0], q[1]));
    }
  }

  // The area where the disc lies as it should, sampled over each triangle.
  constexpr int n = 6;
  double total = 0.0, on = 0.0;
  for (std::size_t t = 0; t + 2 < disc.indices.size(); t += 3) {
    const auto& a = p.at(disc.indices[t]);
    const auto& b = p.at(disc.indices[t + 1]);
    const auto& c = p.at(disc.indices[t + 2]);
    const double area = std::fabs((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1])) / 2.0;
    if (!(area > 0.0)) continue;
    int samples = 0, fine = 0;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; i + j < n; ++j) {
        const float s = (i + 1.0f / 3.0f) / n, r = (j + 1.0f / 3.0f) / n, w = 1.0f - s - r;
        const float x = w * a[0] + s * b[0] + r * c[0], y = w * a[1] + s * b[1] + r * c[1];
        const float z = w * a[2] + s * b[2] + r * c[2];
        ++samples;
        fine += std::fabs(z - model.expected(x, y)) <= 0.03f;
      }
    }
    total += area;
    on += area * fine / samples;
  }
  v.on = total > 0.0 ? on / total : 0.0;
  return v;
}

const ground_ped ground_peds[11] = {
    {"flat", 1, -2.0f, 2.0f},         {"in the air", 2, 2.0f, 2.0f},     {"slope", 3, 10.0f, 0.0f},
    {"stairs", 4, -11.0f, 0.15f},     {"kerb", 5, 0.0f, 7.6f},           {"ledge", 6, 0.0f, 15.0f},
    {"under a canopy", 7, 8.0f, 14.0f}, {"on a car's roof", 8, -7.0f, 15.0f}, {"beside a crate", 9, 12.6f, -11.6f},
    {"beside a bin", 10, -13.5f, -11.7f}, {"walking up the stairs", 11, -8.5f, -2.5f}};

const ground_ped* ground_ped_at(float x, float y) {
  for (const ground_ped& p : ground_peds) {
    if (std::fabs(p.x - x) < 0.01f && std::fabs(p.y - y) < 0.01f) return &p;
  }
  return nullptr;
}

nlohmann::json ground_scene(bool looking_down_the_stairs, int events) {
  using nlohmann::json;
  const float rise = 0.36397023f;  // tan 20 degrees
  json ground = json::array();
  const auto piece = [&](float x0, float y0, float x1, float y1, float z) {
    ground.push_back({{"min", {x0, y0}}, {"max", {x1, y1}}, {"z", z}});
    return &ground.back();
  };
  piece(-30, -30, 30, 30, 0);                                                                         // the plaza
  (*piece(6, -5, 16, 5, 0))["slope"] = {rise, 0};                                                    // a slope
  for (int k = 1; k < 20; ++k) piece(-16, -3 + 0.3f * k, -6, -3 + 0.3f * (k + 1), 0.2f * k);        // stairs
  piece(-16, 3, -6, 6, 3.8f);                                                                         // their landing
  piece(-4, 8, 4, 12, 0.15f);                                                                         // a kerb
  piece(-4, 15.4f, 4, 15.6f, 0.3f);                                                                   // a ledge
  piece(6, 12, 10, 16, 2.4f);                                                                         // a canopy
  json& roof = *piece(-9, 14, -5, 16, 1.5f);                                                          // a car's roof
  roof["vehicle"] = true;
  roof["box"] = true;
  (*piece(13, -12, 13.8f, -11.2f, 0.5f))["frames"] = {1, crate_gone - 1};                             // a crate
  (*piece(-13, -12, -12.4f, -11.4f, 0.8f))["frames"] = {bin_down, 1000000};                           // a bin

  std::vector<sim::ground_piece> pieces;
  int roof_piece = -1;
  for (const json& g : ground) {
    if (g.value("vehicle", false)) roof_piece = static_cast<int>(pieces.size());
    sim::ground_piece p;
    p.min[0] = g["min"][0], p.min[1] = g["min"][1], p.max[0] = g["max"][0], p.max[1] = g["max"][1];
    p.z = g["z"];
    if (g.contains("slope")) p.slope[0] = g["slope"][0];
    p.vehicle = g.value("vehicle", false);
    if (g.contains("frames")) p.frames[0] = g["frames"][0], p.frames[1] = g["frames"][1];
    pieces.push_back(p);
  }
  json peds = json::array();
  for (const ground_ped& p : ground_peds) {
    const bool air = std::string(p.where) == "in the air";
    float z = 0.0f;
    top_below(pieces, p.x, p.y, 100.0f, 1, std::string(p.where) == "on a car's roof" ? roof_piece : -2, &z);
    json ped = {{"slot", p.slot}, {"position", {p.x, p.y, z + (air ? 2.5f : 1.0f)}}};
    if (std::string(p.where) == "walking up the stairs") ped["velocity"] = {0.0, 1.4};
    peds.push_back(ped);
  }
  return {{"player", {{"position", {0, 0, 1}}}},
          {"camera_forward", {0, looking_down_the_stairs ? -1 : 1}},
          {"ground", ground},
          {"peds", peds},
          {"events", {"start_up", "draw*" + std::to_string(events)}}};
}

ground_run judge_ground_run(const nlohmann::json& scene, const std::vector<nlohmann::json>& trace, int settle,
                            int stride) {
  ground_run out;
  const sim::scenario_result parsed = sim::parse_scenario(scene.dump());
  if (!parsed.ok) return {parsed.error};
  const std::vector<sim::ground_piece>& ground = parsed.value.ground;
  std::map<int, int> queries, rings;
  int last_frame = 0;
  for (const nlohmann::json& j : trace) {
    if (j["call"] == "ProcessVerticalLine") ++queries[j["frame"].get<int>()];
  }
  for (const auto& [frame, n] : queries) out.most_queries = std::max(out.most_queries, n);
  std::map<std::string, bool> said;  // one line for each pedestrian
  const auto say = [&](const std::string& what) {
    const std::string who = what.substr(what.find(", ") + 2, what.find(',', what.find(", ") + 2) - what.find(", ") - 2);
    if (said[who]) return;
    said[who] = true;
    out.failure += (out.failure.empty() ? "" : "\n") + what;
  };
  for (const nlohmann::json& d : discs_of_trace(trace)) {
    const int frame = d["frame"];
    last_frame = std::max(last_frame, frame);
    if (frame < settle) continue;
    drawn_disc disc;
    for (const nlohmann::json& v : d["vertices"]) disc.points.push_back({float(v[0]), float(v[1]), float(v[2])});
    for (const nlohmann::json& i : d["indices"]) disc.indices.push_back(std::uint16_t(i));
    const ground_ped* p = ground_ped_at(disc.points[0][0], disc.points[0][1]);
    const std::string where = p ? p->where : "a walker";
    const bool background = d["texture"] == "hpbg";
    if (background) ++rings[frame];
    if (p && p->slot == 9 && frame >= crate_gone && frame < crate_gone + 10) continue;
    if (p && p->slot == 10 && frame >= bin_down && frame < bin_down + 30) continue;
    const bool watched = (p && p->slot == 9 && frame < crate_gone + 12) || (p && p->slot == 10 && frame < bin_down + 32);
    if ((frame - settle) % stride != 0 && !watched) continue;
    const ground_verdict v = check_on_ground(ground, disc, frame);
    ++out.discs_checked;
    if (v.off != 0) say("event " + std::to_string(frame) + ", " + where + ", " + d["texture"].get<std::string>() + ": " + v.first_off);
    if (background) {
      out.least_on = std::min(out.least_on, v.on);
      if (v.on < 0.98) say("event " + std::to_string(frame) + ", " + where + ": " + std::to_string(v.on * 100.0) + " % on the ground");
    }
  }
  for (int frame = settle; frame <= last_frame; ++frame) {
    if (rings[frame] != static_cast<int>(std::size(ground_peds))) say("event " + std::to_string(frame) + ": " + std::to_string(rings[frame]) + " rings");
  }
  if (out.most_queries > 64) say(std::to_string(out.most_queries) + " queries in one event");
  return out;
}

}  // namespace test
