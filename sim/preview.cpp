#include "sim/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <stb_easy_font.h>

#include "host/host_services.h"

namespace sim {
namespace {

struct canvas {
  int width, height;
  int size;  // of the square map on the left
  std::vector<float> rgb;  // linear 0..1, 3 a pixel

  canvas(int w, int h) : width(w), height(h), size(h), rgb(static_cast<std::size_t>(w) * h * 3) {}

  void blend(int x, int y, float r, float g, float b, float a) {
    if (x < 0 || y < 0 || x >= width || y >= height || a <= 0.0f) return;
    float* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    p[0] = p[0] * (1.0f - a) + r * a;
    p[1] = p[1] * (1.0f - a) + g * a;
    p[2] = p[2] * (1.0f - a) + b * a;
  }

  void disc(float cx, float cy, float radius, float r, float g, float b) {
    for (int y = int(cy - radius) - 1; y <= int(cy + radius) + 1; ++y) {
      for (int x = int(cx - radius) - 1; x <= int(cx + radius) + 1; ++x) {
        const float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
        blend(x, y, r, g, b, std::clamp(radius + 0.5f - d, 0.0f, 1.0f));
      }
    }
  }

  void rect(float x0, float y0, float x1, float y1, float r, float g, float b, float a = 1.0f) {
    for (int y = int(std::floor(y0)); y < int(std::ceil(y1)); ++y) {
      for (int x = int(std::floor(x0)); x < int(std::ceil(x1)); ++x) blend(x, y, r, g, b, a);
    }
  }

  // Text from stb_easy_font's quads, scale pixels to its unit.
  void text(float x, float y, const std::string& words, float r, float g, float b, float scale = 2.0f) {
    static char quads[16 * 4 * 1200];
    std::string copy = words;
    unsigned char colour[4] = {255, 255, 255, 255};
    const int count = stb_easy_font_print(0.0f, 0.0f, copy.data(), colour, quads, sizeof quads);
    for (int q = 0; q < count; ++q) {
      const float* v = reinterpret_cast<const float*>(quads + q * 64);
      // Four vertices of 16 bytes: x, y, z, colour; corners 0 and 2 span the quad.
      rect(x + v[0] * scale, y + v[1] * scale, x + v[8] * scale, y + v[9] * scale, r, g, b);
    }
  }

  float text_width(const std::string& words, float scale = 2.0f) const {
    std::string copy = words;
    return static_cast<float>(stb_easy_font_width(copy.data())) * scale;
  }

  void line(float x0, float y0, float x1, float y1, float r, float g, float b) {
    const int steps = int(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))) * 2 + 1;
    for (int i = 0; i <= steps; ++i) {
      const float t = float(i) / float(steps);
      blend(int(x0 + (x1 - x0) * t), int(y0 + (y1 - y0) * t), r, g, b, 1.0f);
    }
  }
};

struct view {
  float px, py;
  float to_x(float x) const { return preview_size / 2.0f + (x - px) * preview_pixels_per_unit; }
  float to_y(float y) const { return preview_size / 2.0f - (y - py) * preview_pixels_per_unit; }
};

void texel(const txd::texture* t, float u, float v, float out[4]) {
  if (!t || t->levels.empty()) {
    out[0] = out[1] = out[2] = out[3] = 1.0f;
    return;
  }
  const txd::level& l = t->levels[0];
  const int x = std::clamp(int(u * float(l.width)), 0, int(l.width) - 1);
  const int y = std::clamp(int(v * float(l.height)), 0, int(l.height) - 1);
  const std::uint8_t* p = &l.rgba[(static_cast<std::size_t>(y) * l.width + x) * 4];
  for (int c = 0; c < 4; ++c) out[c] = p[c] / 255.0f;
}

void draw_fan(canvas& c, const view& w, const host_call& fan, const txd::texture* texture) {
  const auto& vs = fan.vertices;
  if (vs.size() < 3) return;
  const float cr = ((vs[0].colour >> 16) & 0xFF) / 255.0f;
  const float cg = ((vs[0].colour >> 8) & 0xFF) / 255.0f;
  const float cb = (vs[0].colour & 0xFF) / 255.0f;
  const float ca = ((vs[0].colour >> 24) & 0xFF) / 255.0f;
  const auto& ix = fan.indices;
  for (std::size_t t = 0; t + 2 < ix.size(); t += 3) {
    if (ix[t] >= vs.size() || ix[t + 1] >= vs.size() || ix[t + 2] >= vs.size()) continue;
    const host::RwIm3DVertex* tri[3] = {&vs[ix[t]], &vs[ix[t + 1]], &vs[ix[t + 2]]};
    float sx[3], sy[3];
    for (int k = 0; k < 3; ++k) {
      sx[k] = w.to_x(tri[k]->x);
      sy[k] = w.to_y(tri[k]->y);
    }
    const float area = (sx[1] - sx[0]) * (sy[2] - sy[0]) - (sx[2] - sx[0]) * (sy[1] - sy[0]);
    if (std::fabs(area) < 1e-6f) continue;
    const int x0 = std::max(0, int(std::floor(std::min({sx[0], sx[1], sx[2]}))));
    const int x1 = std::min(c.size - 1, int(std::ceil(std::max({sx[0], sx[1], sx[2]}))));
    const int y0 = std::max(0, int(std::floor(std::min({sy[0], sy[1], sy[2]}))));
    const int y1 = std::min(c.size - 1, int(std::ceil(std::max({sy[0], sy[1], sy[2]}))));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        const float qx = x + 0.5f, qy = y + 0.5f;
        const float b0 = ((sx[1] - qx) * (sy[2] - qy) - (sx[2] - qx) * (sy[1] - qy)) / area;
        const float b1 = ((sx[2] - qx) * (sy[0] - qy) - (sx[0] - qx) * (sy[2] - qy)) / area;
        const float b2 = 1.0f - b0 - b1;
        if (b0 < 0 || b1 < 0 || b2 < 0) continue;
        const float u = b0 * tri[0]->u + b1 * tri[1]->u + b2 * tri[2]->u;
        const float v = b0 * tri[0]->v + b1 * tri[1]->v + b2 * tri[2]->v;
        float t[4];
        texel(texture, u, v, t);
        c.blend(x, y, t[0] * cr, t[1] * cg, t[2] * cb, t[3] * ca);
      }
    }
  }
}

// Why the plugin's rules leave a pedestrian without a ring, as the legend
// names it; nullptr for one that gets a ring.
struct reason {
  const char* words;
  float r, g, b;
};
constexpr reason ringed{"ring drawn", 0.95f, 0.95f, 0.95f};
constexpr reason refused[] = {
    {"dead", 0.35f, 0.35f, 0.35f},       {"in a vehicle", 0.85f, 0.45f, 0.2f},
    {"invisible", 0.55f, 0.4f, 0.85f},    {"other area", 0.3f, 0.6f, 0.95f},
    {"beyond 25 units", 0.95f, 0.8f, 0.3f}, {"more than 6 higher or lower", 0.9f, 0.35f, 0.6f},
};

const reason& why(const scenario& scene, const ped_setup& p) {
  const vec3 q = scene.player ? scene.player->position : vec3{};
  if (!(p.health > 0.0f)) return refused[0];
  if (p.in_vehicle) return refused[1];
  if (!p.visible) return refused[2];
  if (p.area != host::everywhere_area && static_cast<std::int32_t>(p.area) != scene.area) return refused[3];
  if (scene.player) {
    const float dx = p.position.x - q.x, dy = p.position.y - q.y, dz = p.position.z - q.z;
    const float d = static_cast<float>(std::sqrt(static_cast<double>((dy * dy + dx * dx) + dz * dz)));
    if (d > 25.0f) return refused[4];
    if (std::fabs(dz) > 6.0f) return refused[5];
  }
  return ringed;
}

// In the panel right of the map, where it hides nothing.
void legend(canvas& c) {
  const float x = preview_size + 14.0f, top = 14.0f, step = 20.0f;
  c.rect(preview_size, 0, c.width, c.height, 0.1f, 0.11f, 0.1f);
  float y = top;
  const auto row = [&](const char* words, float r, float g, float b) {
    c.disc(x + 6, y + 6, 4.0f, r, g, b);
    c.text(x + 18, y, words, 0.92f, 0.92f, 0.92f);
    y += step;
  };
  row(ringed.words, ringed.r, ringed.g, ringed.b);
  for (const reason& r : refused) {
    row((std::string("no ring: ") + r.words).c_str(), r.r, r.g, r.b);
  }
  row("the player", 0.2f, 0.9f, 1.0f);
  c.line(x + 2, y + 6, x + 12, y + 6, 1.0f, 0.85f, 0.2f);
  c.text(x + 18, y, "the camera's direction", 0.92f, 0.92f, 0.92f);
  y += step;
  c.line(x + 2, y + 6, x + 12, y + 6, 0.45f, 0.55f, 0.45f);
  c.text(x + 18, y, "25 units from the player", 0.92f, 0.92f, 0.92f);
  y += step;
  c.rect(x + 1, y + 2, x + 12, y + 11, 0.5f, 0.46f, 0.4f);
  c.text(x + 18, y, "a wall (seen from above)", 0.92f, 0.92f, 0.92f);
  y += step;
  c.text(x, y, "labels: slot, health in per cent", 0.8f, 0.8f, 0.8f);
}

void scale_bar(canvas& c) {
  const float length = 10.0f * preview_pixels_per_unit;
  const float x = preview_size - length - 20.0f, y = preview_size - 24.0f;
  c.rect(x - 6, y - 20, x + length + 6, y + 10, 0.0f, 0.0f, 0.0f, 0.55f);
  c.rect(x, y, x + length, y + 3, 0.92f, 0.92f, 0.92f);
  c.rect(x, y - 5, x + 2, y + 3, 0.92f, 0.92f, 0.92f);
  c.rect(x + length - 2, y - 5, x + length, y + 3, 0.92f, 0.92f, 0.92f);
  c.text(x + length / 2 - 30, y - 18, "10 units", 0.92f, 0.92f, 0.92f);
}

}  // namespace

png::image render_preview(const scenario& scene, const std::vector<host_call>& fans, const txd::dictionary& textures) {
  canvas c(preview_size + preview_panel, preview_size);
  const vec3 player = scene.player ? scene.player->position : vec3{};
  const view w{player.x, player.y};
  for (int i = 0; i < c.width * c.height; ++i) {
    c.rgb[i * 3 + 0] = 0.16f;
    c.rgb[i * 3 + 1] = 0.20f;
    c.rgb[i * 3 + 2] = 0.16f;
  }
  // Grid every 5 units, and the 25-unit range around the player.
  const float half = preview_size / 2.0f / preview_pixels_per_unit;
  for (float g = std::floor((player.x - half) / 5.0f) * 5.0f; g <= player.x + half; g += 5.0f) {
    c.line(w.to_x(g), 0, w.to_x(g), preview_size - 1, 0.23f, 0.28f, 0.23f);
  }
  for (float g = std::floor((player.y - half) / 5.0f) * 5.0f; g <= player.y + half; g += 5.0f) {
    c.line(0, w.to_y(g), preview_size - 1, w.to_y(g), 0.23f, 0.28f, 0.23f);
  }
  for (int i = 0; i < 720; ++i) {
    const float a = float(i) * 3.14159265f / 360.0f;
    c.blend(int(w.to_x(player.x + 25.0f * std::cos(a))), int(w.to_y(player.y + 25.0f * std::sin(a))), 0.45f, 0.55f, 0.45f, 1.0f);
  }
  for (const wall& box : scene.walls) {
    c.rect(w.to_x(box.min.x), w.to_y(box.max.y), w.to_x(box.max.x), w.to_y(box.min.y), 0.5f, 0.46f, 0.4f);
  }
  for (const host_call& fan : fans) draw_fan(c, w, fan, textures.find(fan.texture));
  // Pedestrians: a dot coloured by whether and why the rules ring them, with
  // the slot and health; the player in cyan with the camera's direction.
  for (const ped_setup& p : scene.peds) {
    const reason& r = why(scene, p);
    const float px = w.to_x(p.position.x), py = w.to_y(p.position.y);
    c.disc(px, py, 3.5f, r.r, r.g, r.b);
    const float m = p.max_health > 1.0f ? p.max_health : 100.0f;
    char label[48];
    std::snprintf(label, sizeof label, "%d  %.0f%%", p.slot, static_cast<double>(p.health / m * 100.0f));
    // Right of its dot and above it, or left and below where the map ends.
    const float width = c.text_width(label);
    const float lx = px + 6 + width <= preview_size - 2 ? px + 6 : std::max(2.0f, px - 6 - width);
    const float ly = py - 14 >= 2 ? py - 14 : py + 6;
    c.text(lx, ly, label, 0.95f, 0.95f, 0.85f);
  }
  if (scene.player) {
    const float fx = scene.camera_forward[0], fy = scene.camera_forward[1];
    const float n = std::hypot(fx, fy);
    if (n > 0.0f) {
      c.line(w.to_x(player.x), w.to_y(player.y), w.to_x(player.x + 4.0f * fx / n), w.to_y(player.y + 4.0f * fy / n),
             1.0f, 0.85f, 0.2f);
    }
    c.disc(w.to_x(player.x), w.to_y(player.y), 4.0f, 0.2f, 0.9f, 1.0f);
  }
  legend(c);
  scale_bar(c);
  const auto w_px = static_cast<std::uint32_t>(c.width), h_px = static_cast<std::uint32_t>(c.height);
  png::image out{w_px, h_px, std::vector<std::uint8_t>(static_cast<std::size_t>(w_px) * h_px * 4)};
  for (std::size_t i = 0; i < static_cast<std::size_t>(w_px) * h_px; ++i) {
    for (int k = 0; k < 3; ++k) out.rgba[i * 4 + k] = std::uint8_t(std::lround(std::clamp(c.rgb[i * 3 + k], 0.0f, 1.0f) * 255.0f));
    out.rgba[i * 4 + 3] = 255;
  }
  return out;
}

}  // namespace sim
