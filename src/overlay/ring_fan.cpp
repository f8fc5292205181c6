#include "overlay/ring_fan.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "host/host_services.h"
#include "overlay/plugin_state.h"

namespace overlay {
namespace {

constexpr float ring_drop = std::bit_cast<float>(0x3F68F5C2u);  // 0.90999997
constexpr float pi = 3.1415927f;
constexpr float half_pi = 1.5707964f;

struct position {
  float x, y, z;
};

template <class T>
T field(const std::uint8_t* object, std::uint32_t offset) {
  T value;
  std::memcpy(&value, object + offset, sizeof value);
  return value;
}

position position_of(const std::uint8_t* entity) {
  const auto* matrix = field<const std::uint8_t*>(entity, host::ped::matrix);
  return field<position>(matrix ? matrix : entity, matrix ? host::matrix::position : host::ped::position);
}

// Mathematical functions in double on a float argument, rounded back.
float cos_f(float a) { return static_cast<float>(std::cos(static_cast<double>(a))); }
float sin_f(float a) { return static_cast<float>(std::sin(static_cast<double>(a))); }


// A full disc is the same fan for every pedestrian of a frame: its rim
// offsets follow the heading alone and its texture coordinates nothing at all,
// so both are computed once (per frame, per process) with exactly the
// operations of the general path, and only the centre is added per ring.
struct full_disc_uv {
  float u[full_disc_segments + 1];
  float v[full_disc_segments + 1];
};

struct full_disc_rim {
  bool valid = false;
  std::uint32_t heading_bits = 0;
  float dx[full_disc_segments + 1];
  float dy[full_disc_segments + 1];
};

constexpr float full_sweep = (1.0f + 1.0f) * pi;

float rim_angle(int i, int n, float sweep) {
  const float t = (static_cast<float>(i) / static_cast<float>(n)) * sweep;
  return half_pi - t;
}

const full_disc_uv& full_disc_texture_coordinates() {
  static const full_disc_uv table = [] {
    full_disc_uv t{};
    for (int i = 0; i <= full_disc_segments; ++i) {
      const float theta = rim_angle(i, full_disc_segments, full_sweep);
      t.u[i] = cos_f(theta) * 0.5f + 0.5f;
      t.v[i] = 0.5f - sin_f(theta) * 0.5f;
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

}  // namespace

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

namespace {

// What the filters leave of a pedestrian that gets a ring.
struct ring_subject {
  position at;
  float distance;  // from the player, or 0 without one
  float fraction;
};

float clamped_fraction(const std::uint8_t* ped, float health) {
  const float max_health = field<float>(ped, host::ped::max_health);
  const float m = max_health > 1.0f ? max_health : 100.0f;
  float f = health / m;
  if (f > 1.0f) {
    f = 1.0f;
  } else if (f < 0.0f) {
    f = 0.0f;
  }
  return f;
}

inline bool qualifies(const std::uint8_t* ped, const ring_settings& settings, ring_subject* out) {
  if (ped == nullptr) return false;
  const float health = field<float>(ped, host::ped::health);
  if (!(health > 0.0f)) return false;
  if (ped[host::ped::ped_flags] & 0x01) return false;  // in a vehicle
  if (!(ped[host::ped::entity_flags] & 0x80)) return false;  // not visible
  // The game renders an entity of area 13 in every area.
  const std::int32_t area = ped[host::ped::area];
  if (area != host::everywhere_area && area != host::host_current_area()) return false;

  out->at = position_of(ped);
  out->distance = 0.0f;
  if (const std::uint8_t* player = host::host_player_pedestrian(-1)) {
    const position q = position_of(player);
    const float dx = out->at.x - q.x;
    const float dy = out->at.y - q.y;
    const float dz = out->at.z - q.z;
    const float s = (dy * dy + dx * dx) + dz * dz;
    out->distance = static_cast<float>(std::sqrt(static_cast<double>(s)));
    // Written so that a position holding NaN fails them.
    if (!(out->distance <= settings.range) || !(std::fabs(dz) <= settings.height_range)) return false;
  }
  out->fraction = clamped_fraction(ped, health);
  return !(out->fraction == 1.0f && !settings.show_full_health);
}

std::uint32_t with_alpha(const std::uint8_t* rgb, std::uint32_t alpha) {
  return (alpha << 24) + rgb[0] * 0x10000u + rgb[1] * 0x100u + rgb[2];
}

// The alpha of every fan of a pedestrian under the fade and the rings after
// damage; 0 when it gets no ring.
std::uint32_t overlay_alpha(const ring_settings& settings, const ring_subject& r, const slot_memory& memory,
                            std::uint32_t now_ms) {
  float weight = 1.0f;
  if (settings.fade_distance > 0.0f) {
    weight = (settings.range - r.distance) / settings.fade_distance;
    if (weight > 1.0f) weight = 1.0f;
    if (weight < 0.0f) weight = 0.0f;
  }
  if (settings.show_after_damage > 0) {
    const std::uint32_t shown_ms = static_cast<std::uint32_t>(settings.show_after_damage) * 1000u;
    const std::uint32_t since = now_ms - memory.fall_ms;
    if (!memory.fell || since >= shown_ms) return 0;
    const std::uint32_t left = shown_ms - since;
    if (left < fade_out_ms) weight = weight * (static_cast<float>(left) / static_cast<float>(fade_out_ms));
  }
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<float>(settings.opacity) * weight));
}

}  // namespace

float health_fraction(const std::uint8_t* ped) { return clamped_fraction(ped, field<float>(ped, host::ped::health)); }

void draw_ped_ring(const std::uint8_t* ped, host::RwTexture* background, float heading,
                   host::RwTexture* foreground) {
  plugin_state& st = state();
  const ring_settings& settings = st.settings;
  ring_subject r;
  if (!qualifies(ped, settings, &r)) return;

  ++st.peds_in_range;
  const float centre[3] = {r.at.x, r.at.y, r.at.z - ring_drop};
  const std::uint32_t alpha = settings.opacity << 24;
  if (!draw_ring_fan(background, centre, heading, 1.0f, alpha | 0x00FFFFFFu, settings.radius)) {
    ++st.projection_failed;
    return;
  }
  ++st.rings_drawn;
  draw_ring_fan(foreground, centre, heading, r.fraction,
                ring_colour(r.fraction, settings.full_health, settings.low_health, settings.opacity), settings.radius);
}

void draw_ped_ring_overlays(const std::uint8_t* ped, host::RwTexture* background, float heading,
                            host::RwTexture* foreground, const slot_memory& memory, std::uint32_t now_ms) {
  plugin_state& st = state();
  const ring_settings& settings = st.settings;
  ring_subject r;
  if (!qualifies(ped, settings, &r)) return;
  const std::uint32_t alpha = overlay_alpha(settings, r, memory, now_ms);
  if (alpha == 0) return;

  ++st.peds_in_range;
  const float centre[3] = {r.at.x, r.at.y, r.at.z - ring_drop};
  if (!draw_ring_fan(background, centre, heading, 1.0f, (alpha << 24) | 0x00FFFFFFu, settings.radius)) {
    ++st.projection_failed;
    return;
  }
  ++st.rings_drawn;
  if (settings.show_recent_damage) {
    const float trail = trail_fraction(memory, r.fraction, now_ms);
    if (trail > r.fraction) {
      draw_ring_fan(foreground, centre, heading, trail, with_alpha(settings.recent_damage_colour, alpha), settings.radius);
    }
  }
  draw_ring_fan(foreground, centre, heading, r.fraction,
                ring_colour(r.fraction, settings.full_health, settings.low_health, alpha), settings.radius);
  if (settings.show_armour) {
    float armour = field<float>(ped, host::ped::armour) / 100.0f;
    if (armour > 1.0f) armour = 1.0f;
    if (armour > 0.0f) {
      draw_ring_fan(st.ring_armour ? st.ring_armour : foreground, centre, heading, armour,
                    with_alpha(settings.armour_colour, alpha), settings.radius * armour_radius);
    }
  }
}

bool draw_ring_fan(host::RwTexture* texture, const float* centre, float heading, float fraction,
                   std::uint32_t colour, float radius) {
  if (texture == nullptr || !(fraction > 0.0f)) return false;
  const float k = fraction < 1.0f ? fraction : 1.0f;
  int n = full_disc_segments;
  if (!(k >= 0.999f)) {
    n = static_cast<int>(std::ceil(static_cast<double>(k * 48.0f)));
    if (n < 1) n = 1;
  }
  const float sweep = (k + k) * pi;

  host::RwIm3DVertex vertices[max_fan_vertices];
  host::RwIm3DVertex& hub = vertices[0];
  hub.x = centre[0];
  hub.y = centre[1];
  hub.z = centre[2];
  hub.colour = colour;
  hub.u = 0.5f;
  hub.v = 0.5f;
  if (k == 1.0f) {
    const full_disc_uv& uv = full_disc_texture_coordinates();
    const full_disc_rim& rim = full_disc_rim_for(heading);
    for (int i = 0; i <= n; ++i) {
      host::RwIm3DVertex& v = vertices[i + 1];
      v.x = centre[0] + rim.dx[i] * radius;
      v.y = centre[1] + rim.dy[i] * radius;
      v.z = centre[2];
      v.colour = colour;
      v.u = uv.u[i];
      v.v = uv.v[i];
    }
  } else {
    for (int i = 0; i <= n; ++i) {
      const float theta = rim_angle(i, n, sweep);
      const float phi = (theta - half_pi) + heading;
      host::RwIm3DVertex& v = vertices[i + 1];
      v.x = centre[0] + cos_f(phi) * radius;
      v.y = centre[1] + sin_f(phi) * radius;
      v.z = centre[2];
      v.colour = colour;
      v.u = cos_f(theta) * 0.5f + 0.5f;
      v.v = 0.5f - sin_f(theta) * 0.5f;
    }
  }

  host::RwRenderStateSet(host::rwRENDERSTATETEXTURERASTER, reinterpret_cast<std::uintptr_t>(texture->raster));
  if (host::RwIm3DTransform(vertices, static_cast<std::uint32_t>(n + 2), nullptr, host::rwIM3D_VERTEXUV) == nullptr) {
    return false;
  }
  host::RwIm3DRenderPrimitive(host::rwPRIMTYPETRIFAN);
  host::RwIm3DEnd();
  return true;
}

}  // namespace overlay
