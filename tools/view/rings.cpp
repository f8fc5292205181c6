#include "overlay/product_files.h"
#include "tools/view/rings.h"

#include "sim/disc_ranges.h"

#include <cmath>
#include <cstdio>

#include "txd/dictionary_walk.h"

namespace view {
namespace {

// The ring lies 0.91 below the position it was drawn for.
constexpr float ring_drop = 0.90999997f;
constexpr float match = 0.001f;

int slot_under(const sim::vec3& centre, const sim::scenario& scene) {
  for (const sim::ped_setup& p : scene.peds) {
    // On the ground under it: below its position, however far.
    if (std::fabs(p.position.x - centre.x) <= match && std::fabs(p.position.y - centre.y) <= match &&
        centre.z <= (p.position.z - ring_drop) + match) {
      return p.slot;
    }
  }
  return -1;
}

std::string number(float f) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", static_cast<double>(f));
  return text;
}

}  // namespace

std::vector<ring_on_screen> rings_of(const drawn_frame& frame, const sim::scenario& scene, const camera& cam) {
  std::vector<ring_on_screen> rings;
  std::string texture;
  for (const replay_call& c : frame.earlier) {
    if (c.state == host::rwRENDERSTATETEXTURERASTER) texture = c.texture;
  }
  for (const replay_call& c : frame.calls) {
    if (c.kind == replay_call::set_state) {
      if (c.state == host::rwRENDERSTATETEXTURERASTER) texture = c.texture;
      continue;
    }
    if (!c.accepted || !txd::same_texture_name(texture.c_str(), overlay::background_texture) || c.vertices.empty()) continue;
    for (const auto& [first, end] : sim::disc_ranges(c.vertices)) {
      ring_on_screen r;
      const fan_vertex& centre = c.vertices[first];
      r.world = {centre.x, centre.y, centre.z};
      r.slot = slot_under(r.world, scene);
      r.on_screen = project(cam, r.world, &r.screen_x, &r.screen_y);
      for (std::size_t i = first + 1; r.on_screen && i < end; ++i) {
        float x = 0.0f, y = 0.0f;
        if (!project(cam, {c.vertices[i].x, c.vertices[i].y, c.vertices[i].z}, &x, &y)) continue;
        r.radius_px = std::fmax(r.radius_px, std::hypot(x - r.screen_x, y - r.screen_y));
      }
      rings.push_back(r);
    }
  }
  return rings;
}

std::string view_json(std::int32_t frame, const std::vector<ring_on_screen>& rings) {
  // Appended piece by piece: no temporary strings added together.
  std::string out = "{\"frame\": ";
  out += std::to_string(frame);
  out += ", \"rings\": [";
  for (std::size_t i = 0; i < rings.size(); ++i) {
    const ring_on_screen& r = rings[i];
    out += i == 0 ? "\n  " : ",\n  ";
    out += "{\"slot\": ";
    out += std::to_string(r.slot);
    out += ", \"world\": [";
    const float world[3] = {r.world.x, r.world.y, r.world.z};
    for (int k = 0; k < 3; ++k) {
      out += number(world[k]);
      out += k == 2 ? "]" : ", ";
    }
    out += ", \"screen\": ";
    if (r.on_screen) {
      out += "[";
      out += number(r.screen_x);
      out += ", ";
      out += number(r.screen_y);
      out += "]";
    } else {
      out += "null";
    }
    out += ", \"radius_px\": ";
    out += number(r.radius_px);
    out += "}";
  }
  out += rings.empty() ? "]}\n" : "\n]}\n";
  return out;
}

}  // namespace view
