#include "tests/support/reference_ring.h"

#include <cmath>
#include <cstring>

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

}  // namespace test

#include "host/host_services.h"
#include "overlay/plugin_state.h"

namespace test {
namespace {

template <class T>
T at(const std::uint8_t* object, std::uint32_t offset) {
  T value;
  std::memcpy(&value, object + offset, sizeof value);
  return value;
}

void position(const std::uint8_t* entity, float out[3]) {
  const auto* matrix = at<const std::uint8_t*>(entity, 0x14);
  std::memcpy(out, matrix ? matrix + 0x30 : entity + 0x04, 12);
}

}  // namespace

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

void reference_draw_ped_ring(const std::uint8_t* ped, host::RwTexture* background, float heading,
                             host::RwTexture* foreground) {
  if (!ped) return;
  const float health = at<float>(ped, 0x540);
  if (!(health > 0.0f) || (ped[0x46D] & 1) || !(ped[0x1C] & 0x80)) return;
  if (static_cast<std::int32_t>(ped[0x2F]) != host::host_current_area()) return;
  float p[3];
  position(ped, p);
  if (const std::uint8_t* player = host::host_player_pedestrian(-1)) {
    float q[3];
    position(player, q);
    const float dx = p[0] - q[0], dy = p[1] - q[1], dz = p[2] - q[2];
    const float s = (dy * dy + dx * dx) + dz * dz;
    if (static_cast<float>(std::sqrt(static_cast<double>(s))) > 25.0f || std::fabs(dz) > 6.0f) return;
  }
  overlay::plugin_state& st = overlay::state();
  ++st.peds_in_range;
  const float centre[3] = {p[0], p[1], p[2] - 0.90999997f};
  const float max_health = at<float>(ped, 0x544);
  float f = health / (max_health > 1.0f ? max_health : 100.0f);
  f = f > 1.0f ? 1.0f : (f < 0.0f ? 0.0f : f);
  if (!reference_draw_ring_fan(background, centre, heading, 1.0f, 0xFFFFFFFFu)) {
    ++st.projection_failed;
    return;
  }
  ++st.rings_drawn;
  reference_draw_ring_fan(foreground, centre, heading, f, reference_colour(f));
}

void reference_draw_rings() {
  overlay::plugin_state& st = overlay::state();
  const std::uint8_t* player = host::host_player_pedestrian(-1);
  if (!st.textures_loaded || !st.ring_background || !st.ring_foreground || !player) return;
  const std::uint8_t* camera = host::host_camera();
  const auto* matrix = at<const std::uint8_t*>(camera, 0x14);
  const float heading = reference_heading(at<float>(matrix, 0x10), at<float>(matrix, 0x14));
  const std::pair<std::int32_t, std::uint32_t> states[] = {{12, 1}, {10, 5}, {11, 6}, {6, 1}, {8, 0}, {9, 2}, {20, 1}};
  for (const auto& s : states) host::RwRenderStateSet(s.first, s.second);
  const host::ped_pool* pool = host::host_ped_pool();
  for (std::int32_t i = 0; i < pool->size; ++i) {
    if (pool->status[i] < 0) continue;
    const std::uint8_t* ped = pool->slots + static_cast<std::uint32_t>(i) * 1988u;
    if (ped == player) continue;
    reference_draw_ped_ring(ped, st.ring_background, heading, st.ring_foreground);
  }
}

}  // namespace test
