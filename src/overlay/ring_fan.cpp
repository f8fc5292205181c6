#include "overlay/ring_fan.h"

#include <bit>
#include <cmath>

#include "overlay/ring_settings.h"

namespace overlay {
namespace {

constexpr float ring_drop = std::bit_cast<float>(0x3F68F5C2u);  // 0.90999997
constexpr float pi = 3.1415927f;
constexpr float half_pi = 1.5707964f;

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

// Segments of a fan of fraction (0, 1]; 0 for other fractions.
int segments_of(float fraction, float* k) {
  if (!(fraction > 0.0f)) return 0;
  *k = fraction < 1.0f ? fraction : 1.0f;
  if (*k >= 0.999f) return full_disc_segments;
  const int n = static_cast<int>(std::ceil(static_cast<double>(*k * 48.0f)));
  return n < 1 ? 1 : n;
}

// Rim point i of n: the texture angle's cosine and sine, and the offset's.
struct rim_point {
  float c, s, dx, dy;
};

rim_point rim_of(bool full, int i, int n, float sweep, float heading) {
  if (full) {
    const full_disc_uv& uv = full_disc_texture_coordinates();
    const full_disc_rim& rim = full_disc_rim_for(heading);
    return {uv.c[i], uv.s[i], rim.dx[i], rim.dy[i]};
  }
  const float theta = rim_angle(i, n, sweep);
  const float phi = (theta - half_pi) + heading;
  return {cos_f(theta), sin_f(theta), cos_f(phi), sin_f(phi)};
}

}  // namespace

ring_place place_ring(float x, float y, float z, const ground_under& ground) {
  ring_place p;
  p.x = x;
  p.y = y;
  p.flat_z = z - ring_drop;
  p.ground = ground;
  return p;
}

fan_size fan_size_of(const ring_place&, float fraction, float) {
  float k = 0.0f;
  const auto n = static_cast<std::uint32_t>(segments_of(fraction, &k));
  if (n == 0) return {};
  return {n + 2, 3 * n};
}

void write_fan(const ring_place& at, float heading, float fraction, std::uint32_t colour, float radius,
               host::RwIm3DVertex* v, std::uint16_t* indices, std::uint32_t first, const fan_plane& plane) {
  float k = 0.0f;
  const int n = segments_of(fraction, &k);
  if (n == 0) return;
  const float sweep = (k + k) * pi;
  const bool full = k == 1.0f;
  const bool level = plane.gx == 0.0 && plane.gy == 0.0;
  const float hub_z = part_z(at, 0.0);

  // The batch's buffer is written only here: the normals stay as they were made, 0.
  host::RwIm3DVertex& hub = v[0];
  hub.x = at.x;
  hub.y = at.y;
  hub.z = hub_z;
  hub.colour = colour;
  hub.u = 0.5f;
  hub.v = 0.5f;
  host::RwIm3DVertex* out = v + 1;
  const auto put = [&](float c, float s, float dx, float dy) {
    out->x = at.x + dx * radius;
    out->y = at.y + dy * radius;
    out->z = level ? hub_z : part_z(at, plane.gx * (out->x - at.x) + plane.gy * (out->y - at.y));
    out->colour = colour;
    out->u = c * 0.5f + 0.5f;
    out->v = 0.5f - s * 0.5f;
    ++out;
  };
  if (full) {
    const full_disc_uv& uv = full_disc_texture_coordinates();
    const full_disc_rim& rim = full_disc_rim_for(heading);
    for (int i = 0; i <= n; ++i) put(uv.c[i], uv.s[i], rim.dx[i], rim.dy[i]);
  } else {
    for (int i = 0; i <= n; ++i) {
      const rim_point r = rim_of(false, i, n, sweep, heading);
      put(r.c, r.s, r.dx, r.dy);
    }
  }
  for (int i = 0; i < n; ++i) {
    *indices++ = static_cast<std::uint16_t>(first);
    *indices++ = static_cast<std::uint16_t>(first + 1 + static_cast<std::uint32_t>(i));
    *indices++ = static_cast<std::uint16_t>(first + 2 + static_cast<std::uint32_t>(i));
  }
}

bool outline_of(const ring_place& at, float heading, float fraction, float radius, fan_outline* out) {
  float k = 0.0f;
  const int n = segments_of(fraction, &k);
  if (n == 0) return false;
  const float sweep = (k + k) * pi;
  const bool full = k == 1.0f;
  out->segments = n;
  for (int i = 0; i <= n; ++i) {
    const rim_point r = rim_of(full, i, n, sweep, heading);
    out->x[i] = at.x + r.dx * radius;
    out->y[i] = at.y + r.dy * radius;
    out->u[i] = r.c * 0.5f + 0.5f;
    out->v[i] = 0.5f - r.s * 0.5f;
  }
  return true;
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
