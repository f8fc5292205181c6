#include "tests/support/reference_ring.h"

#include <cmath>
#include <cstring>

#include "host/host_services.h"

namespace test {

reference_fan reference_ring_fan(const float centre[3], float heading, float fraction, std::uint32_t colour,
                                 float radius) {
  reference_fan fan;
  if (!(fraction > 0.0f)) return fan;
  const float k = std::fmin(fraction, 1.0f);
  int n;
  if (k >= 0.999f) {
    n = 48;
  } else {
    const float scaled = k * 48.0f;
    n = static_cast<int>(std::ceil(static_cast<double>(scaled)));
    if (n < 1) n = 1;
  }
  const float pi_f = 3.1415927f;
  const float half_pi_f = 1.5707964f;
  const float sweep = (k + k) * pi_f;
  fan.segments = n;
  host::RwIm3DVertex v{};
  v.x = centre[0];
  v.y = centre[1];
  v.z = centre[2];
  v.colour = colour;
  v.u = 0.5f;
  v.v = 0.5f;
  fan.vertices.push_back(v);
  for (int i = 0; i <= n; ++i) {
    const float share = static_cast<float>(i) / static_cast<float>(n);
    const float t = share * sweep;
    const float texture_angle = half_pi_f - t;
    const float rotated = texture_angle - half_pi_f;
    const float world_angle = rotated + heading;
    const float c = static_cast<float>(std::cos(static_cast<double>(world_angle)));
    const float s = static_cast<float>(std::sin(static_cast<double>(world_angle)));
    const float tc = static_cast<float>(std::cos(static_cast<double>(texture_angle)));
    const float ts = static_cast<float>(std::sin(static_cast<double>(texture_angle)));
    host::RwIm3DVertex r{};
    const float along_x = c * radius;
    const float along_y = s * radius;
    r.x = centre[0] + along_x;
    r.y = centre[1] + along_y;
    r.z = centre[2];
    r.colour = colour;
    const float half_tc = tc * 0.5f;
    r.u = half_tc + 0.5f;
    const float half_ts = ts * 0.5f;
    r.v = 0.5f - half_ts;
    fan.vertices.push_back(r);
  }
  return fan;
}

std::uint32_t reference_colour(float fraction) {
  const float g = fraction * 255.0f;
  const float r = (1.0f - fraction) * 255.0f;
  const auto green = static_cast<std::uint32_t>(std::trunc(g));
  const auto red = static_cast<std::uint32_t>(std::trunc(r));
  return 0xFF000000u | (red << 16) | (green << 8);
}

std::uint32_t reference_colour(float fraction, const std::uint8_t full[3], const std::uint8_t low[3], std::uint32_t alpha) {
  std::uint32_t colour = alpha << 24;
  for (int i = 0; i < 3; ++i) {
    const float from_full = static_cast<float>(full[i]) * fraction;
    const float from_low = static_cast<float>(low[i]) * (1.0f - fraction);
    const float sum = from_full + from_low;
    colour |= static_cast<std::uint32_t>(std::trunc(sum)) << (16 - 8 * i);
  }
  return colour;
}

float reference_heading(float forward_x, float forward_y) {
  return static_cast<float>(std::atan2(static_cast<double>(forward_y), static_cast<double>(forward_x)));
}

bool same_vertex(const host::RwIm3DVertex& a, const host::RwIm3DVertex& b) {
  auto bits = [](float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
  };
  return bits(a.x) == bits(b.x) && bits(a.y) == bits(b.y) && bits(a.z) == bits(b.z) && a.colour == b.colour &&
         bits(a.u) == bits(b.u) && bits(a.v) == bits(b.v);
}

bool reference_draw_ring_fan(host::RwTexture* texture, const float centre[3], float heading, float fraction,
                             std::uint32_t colour) {
  if (texture == nullptr) return false;
  reference_fan fan = reference_ring_fan(centre, heading, fraction, colour);
  if (fan.vertices.empty()) return false;
  host::RwIm3DVertex vertices[50];
  std::memcpy(vertices, fan.vertices.data(), fan.vertices.size() * sizeof(host::RwIm3DVertex));
  host::RwRenderStateSet(1, reinterpret_cast<std::uintptr_t>(texture->raster));
  if (!host::RwIm3DTransform(vertices, static_cast<std::uint32_t>(fan.vertices.size()), nullptr, 1)) return false;
  host::RwIm3DRenderPrimitive(5);
  host::RwIm3DEnd();
  return true;
}

}  // namespace test
