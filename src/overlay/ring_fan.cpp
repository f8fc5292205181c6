#include "overlay/ring_fan.h"

#include <bit>
#include <cmath>

#include "overlay/ring_settings.h"

namespace overlay {
namespace {

constexpr float ring_drop = std::bit_cast<float>(0x3F68F5C2u);  // 0.90999997
constexpr float air_lift = 0.09f;  // above the ground, as the game's shadow lies
constexpr float pi = 3.1415927f;
constexpr float half_pi = 1.5707964f;
constexpr int max_levels = 8;

// Mathematical functions in double on a float argument, rounded back.
float cos_f(float a) { return static_cast<float>(std::cos(static_cast<double>(a))); }
float sin_f(float a) { return static_cast<float>(std::sin(static_cast<double>(a))); }

constexpr float full_sweep = (1.0f + 1.0f) * pi;

float rim_angle(int i, int n, float sweep) {
  const float t = (static_cast<float>(i) / static_cast<float>(n)) * sweep;
  return half_pi - t;
}

// A full disc is the same fan for every pedestrian of a frame: its rim
// offsets follow the heading alone and its texture coordinates nothing at all,
// so both are computed once (per frame, per process) with exactly the
// operations of the general path, and only the centre is added per ring.
struct full_disc_uv {
  float c[full_disc_segments + 1], s[full_disc_segments + 1];  // of the texture angle
  float u[full_disc_segments + 1], v[full_disc_segments + 1];
};

struct full_disc_rim {
  bool valid = false;
  std::uint32_t heading_bits = 0;
  float dx[full_disc_segments + 1];
  float dy[full_disc_segments + 1];
};

const full_disc_uv& full_disc_texture_coordinates() {
  static const full_disc_uv table = [] {
    full_disc_uv t{};
    for (int i = 0; i <= full_disc_segments; ++i) {
      const float theta = rim_angle(i, full_disc_segments, full_sweep);
      t.c[i] = cos_f(theta);
      t.s[i] = sin_f(theta);
      t.u[i] = t.c[i] * 0.5f + 0.5f;
      t.v[i] = 0.5f - t.s[i] * 0.5f;
    }
    return t;
  }();
  return table;
}

const full_disc_rim& full_disc_rim_for(float heading) {
  static full_disc_rim rim;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(heading);
  if (!rim.valid || rim.heading_bits != bits) {
    for (int i = 0; i <= full_disc_segments; ++i) {
      const float phi = (rim_angle(i, full_disc_segments, full_sweep) - half_pi) + heading;
      rim.dx[i] = cos_f(phi);
      rim.dy[i] = sin_f(phi);
    }
    rim.heading_bits = bits;
    rim.valid = true;
  }
  return rim;
}

struct fan_shape {
  float k;       // the share of the disc, at most 1
  int segments;  // rim segments
  int levels;    // rings of vertices from the hub out, the rim the last
};

bool shape_of(const ring_place& at, float fraction, float radius, fan_shape* out) {
  if (!(fraction > 0.0f)) return false;
  out->k = fraction < 1.0f ? fraction : 1.0f;
  out->segments = full_disc_segments;
  if (!(out->k >= 0.999f)) {
    out->segments = static_cast<int>(std::ceil(static_cast<double>(out->k * 48.0f)));
    if (out->segments < 1) out->segments = 1;
  }
  out->levels = 1;
  if (at.ground.shape == ground_shape::uneven) {
    // A level every ground step or so: parts between steps follow them.
    const int levels = static_cast<int>(std::ceil(radius / ground_step));
    out->levels = levels < 1 ? 1 : levels > max_levels ? max_levels : levels;
  }
  return true;
}

// The height of the fan's part at (x, y).
float part_height(const ring_place& at, float x, float y, float radius) {
  const ground_under& g = at.ground;
  if (g.shape == ground_shape::none) return at.flat_z;
  float rise = 0.0f;
  if (g.shape == ground_shape::plane) {
    rise = g.gx * (x - at.x) + g.gy * (y - at.y);
  } else if (float z = 0.0f; at.samples->height_at(at.slot, x, y, &z)) {
    rise = z - g.centre;
  }
  if (!(std::fabs(rise) <= ground_follow * radius)) rise = 0.0f;  // a ledge or a wall: level
  return g.on_ground ? at.flat_z + rise : (g.centre + rise) + air_lift;
}

}  // namespace

ring_place place_ring(float x, float y, float z, const ground_under& ground, const ground_memory* samples,
                      std::int32_t slot) {
  ring_place p;
  p.x = x;
  p.y = y;
  p.flat_z = z - ring_drop;
  p.ground = ground;
  p.samples = samples;
  p.slot = slot;
  return p;
}

fan_size fan_size_of(const ring_place& at, float fraction, float radius) {
  fan_shape f;
  if (!shape_of(at, fraction, radius, &f)) return {};
  const auto n = static_cast<std::uint32_t>(f.segments), levels = static_cast<std::uint32_t>(f.levels);
  return {1 + levels * (n + 1), 3 * n + (levels - 1) * 6 * n};
}

void write_fan(const ring_place& at, float heading, float fraction, std::uint32_t colour, float radius,
               host::RwIm3DVertex* v, std::uint16_t* indices, std::uint32_t first) {
  fan_shape f;
  if (!shape_of(at, fraction, radius, &f)) return;
  const int n = f.segments;
  const float sweep = (f.k + f.k) * pi;
  const bool full = f.k == 1.0f;
  const full_disc_uv& uv = full_disc_texture_coordinates();
  const full_disc_rim& rim = full_disc_rim_for(heading);

  // Where the ground is flat (or unknown) every part lies at the hub's height.
  const ground_under& g = at.ground;
  const bool level_ground = g.shape == ground_shape::none || (g.shape == ground_shape::plane && g.gx == 0.0f && g.gy == 0.0f);
  const float hub_z = part_height(at, at.x, at.y, radius);

  // The batch's buffer is written only here: the normals stay as they were made, 0.
  host::RwIm3DVertex& hub = v[0];
  hub.x = at.x;
  hub.y = at.y;
  hub.z = hub_z;
  hub.colour = colour;
  hub.u = 0.5f;
  hub.v = 0.5f;
  host::RwIm3DVertex* out = v + 1;
  for (int level = 1; level <= f.levels; ++level) {
    // The rim's share exactly 1, so that its vertices are those of a plain fan.
    const float share = level == f.levels ? 1.0f : static_cast<float>(level) / static_cast<float>(f.levels);
    const float reach = radius * share;
    const float half = 0.5f * share;
    for (int i = 0; i <= n; ++i, ++out) {
      float c, s, dx, dy;
      if (full) {
        c = uv.c[i];
        s = uv.s[i];
        dx = rim.dx[i];
        dy = rim.dy[i];
      } else {
        const float theta = rim_angle(i, n, sweep);
        const float phi = (theta - half_pi) + heading;
        c = cos_f(theta);
        s = sin_f(theta);
        dx = cos_f(phi);
        dy = sin_f(phi);
      }
      out->x = at.x + dx * reach;
      out->y = at.y + dy * reach;
      out->z = level_ground ? hub_z : part_height(at, out->x, out->y, radius);
      out->colour = colour;
      out->u = c * half + 0.5f;
      out->v = 0.5f - s * half;
    }
  }

  const auto at_level = [&](int level, int i) {
    return static_cast<std::uint16_t>(first + 1 + static_cast<std::uint32_t>((level - 1) * (n + 1) + i));
  };
  std::uint16_t* index = indices;
  const auto hub_index = static_cast<std::uint16_t>(first);
  for (int i = 0; i < n; ++i) {
    const std::uint16_t rim_index = at_level(1, i);
    *index++ = hub_index;
    *index++ = rim_index;
    *index++ = static_cast<std::uint16_t>(rim_index + 1);
  }
  for (int level = 2; level <= f.levels; ++level) {
    for (int i = 0; i < n; ++i) {
      *index++ = at_level(level - 1, i);
      *index++ = at_level(level, i);
      *index++ = at_level(level, i + 1);
      *index++ = at_level(level - 1, i);
      *index++ = at_level(level, i + 1);
      *index++ = at_level(level - 1, i + 1);
    }
  }
}

std::uint32_t ring_colour(float fraction, const std::uint8_t* full, const std::uint8_t* low, std::uint32_t alpha) {
  // The settings table's defaults, green and red.
  static const ring_settings defaults;
  if (full == nullptr) full = defaults.full_health;
  if (low == nullptr) low = defaults.low_health;
  // Each product in single precision, summed, truncated: green and red give
  // f x 255 and (1 - f) x 255 exactly, the other terms adding +0.
  std::uint32_t channel[3];
  for (int i = 0; i < 3; ++i) {
    const float value = static_cast<float>(full[i]) * fraction + static_cast<float>(low[i]) * (1.0f - fraction);
    channel[i] = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
  }
  return (alpha << 24) + channel[0] * 0x10000u + channel[1] * 0x100u + channel[2];
}

}  // namespace overlay
