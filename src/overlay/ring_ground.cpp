#include "overlay/ring_ground.h"

#include <bit>
#include <cmath>

#include "host/host_services.h"

namespace overlay {
namespace {

// A probe reaches this much past the band the parts follow, so that a
// pedestrian climbing or descending keeps its samples for a while.
constexpr float probe_margin = 0.5f;
// How far samples may stray from a plane and still be one.
constexpr float plane_tolerance = 0.01f;
// Where the plane is tested: at half the reach and the reach, eight ways.
constexpr float half_diagonal = 0.70710677f;
constexpr float test_directions[8][2] = {{1.0f, 0.0f},  {half_diagonal, half_diagonal},   {0.0f, 1.0f},
                                         {-half_diagonal, half_diagonal}, {-1.0f, 0.0f},
                                         {-half_diagonal, -half_diagonal}, {0.0f, -1.0f},
                                         {half_diagonal, -half_diagonal}};


std::size_t torus_slot(std::int32_t side, std::int32_t ix, std::int32_t iy) {
  const auto wrap = [side](std::int32_t i) { return static_cast<std::size_t>(((i % side) + side) % side); };
  return wrap(ix) * static_cast<std::size_t>(side) + wrap(iy);
}

}  // namespace

void ground_memory::fit(std::int32_t slots, float reach) {
  const bool more = slots > 0 && static_cast<std::size_t>(slots) > slots_.size();
  if (!more && reach == reach_) return;
  if (more) slots_.resize(static_cast<std::size_t>(slots));
  reach_ = reach;
  step_ = reach <= ground_fine_reach ? ground_step : reach / 10.0f;
  side_ = 2 * static_cast<std::int32_t>(std::ceil(reach / step_)) + 4;
  for (slot_ground& g : slots_) {
    g.valid = false;
    g.samples.assign(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_), ground_sample{});
  }
}

void ground_memory::clear() {
  for (slot_ground& g : slots_) {
    g.valid = false;
    for (ground_sample& s : g.samples) s.known = false;
  }
}

ground_sample& ground_memory::sample(slot_ground& g, std::int32_t ix, std::int32_t iy, float lo, float hi) {
  ground_sample& s = g.samples[torus_slot(side_, ix, iy)];
  // A found height stands while the probe started above all the parts may
  // follow; nothing found stands only for the whole band.
  const float depth = (hi - lo) + 2.0f * probe_margin;
  if (s.known && s.ix == ix && s.iy == iy && s.top >= hi && (s.found || s.top - depth <= lo)) return s;
  s.ix = ix;
  s.iy = iy;
  s.known = true;
  s.top = hi + probe_margin;
  const float origin[3] = {grid_at(ix), grid_at(iy), s.top};
  s.found = host::host_ground_below(origin, s.top - depth, &s.z);
  return s;
}

const ground_under& ground_memory::find(std::int32_t slot, std::uint8_t status, float x, float y, float z) {
  const float reach = reach_;
  slot_ground& g = slots_[static_cast<std::size_t>(slot)];
  const std::uint32_t bx = std::bit_cast<std::uint32_t>(x), by = std::bit_cast<std::uint32_t>(y),
                      bz = std::bit_cast<std::uint32_t>(z);
  if (g.valid && g.status == status && g.x == bx && g.y == by && g.z == bz) return g.found;
  g.valid = true;
  g.status = status;
  g.x = bx;
  g.y = by;
  g.z = bz;

  ground_under& out = g.found;
  out = ground_under{};
  const float origin[3] = {x, y, z};
  float centre = 0.0f;
  if (!host::host_ground_below(origin, z - host::ped_feet_below - host::shadow_reach, &centre)) return out;
  out.centre = centre;
  out.on_ground = std::fabs(centre - (z - host::ped_feet_below)) <= 0.03f;
  const float follow = ground_follow * reach;
  const float lo = centre - follow, hi = centre + follow;

  // The plane through the centre's ground that best fits the test points.
  bool usable = true, flat = true;
  double sxx = 0.0, sxy = 0.0, syy = 0.0, sxz = 0.0, syz = 0.0;
  double dxs[16], dys[16], dzs[16];
  int n = 0;
  for (float share : {0.5f, 1.0f}) {
    for (const auto& d : test_directions) {
      const std::int32_t ix = grid_index(x + d[0] * reach * share), iy = grid_index(y + d[1] * reach * share);
      const ground_sample& s = sample(g, ix, iy, lo, hi);
      if (!s.found || !(std::fabs(s.z - centre) <= follow)) usable = false;
      if (!usable) break;
      const double dx = static_cast<double>(grid_at(ix)) - x, dy = static_cast<double>(grid_at(iy)) - y;
      const double dz = static_cast<double>(s.z) - centre;
      flat = flat && dz == 0.0;
      sxx += dx * dx;
      sxy += dx * dy;
      syy += dy * dy;
      sxz += dx * dz;
      syz += dy * dz;
      dxs[n] = dx;
      dys[n] = dy;
      dzs[n] = dz;
      ++n;
    }
    if (!usable) break;
  }
  if (usable && flat) {
    out.shape = ground_shape::plane;  // gx, gy exactly 0: every part as on flat ground
    return out;
  }
  if (usable) {
    const double det = sxx * syy - sxy * sxy;
    if (det > 0.0) {
      const double gx = (sxz * syy - syz * sxy) / det, gy = (syz * sxx - sxz * sxy) / det;
      bool fits = true;
      for (int i = 0; i < n && fits; ++i) fits = std::fabs(dzs[i] - gx * dxs[i] - gy * dys[i]) <= plane_tolerance;
      if (fits) {
        out.shape = ground_shape::plane;
        out.gx = static_cast<float>(gx);
        out.gy = static_cast<float>(gy);
        return out;
      }
    }
  }

  // Uneven: every sample a part of the disc can take.
  out.shape = ground_shape::uneven;
  const float within = (reach + step_) * (reach + step_);
  for (std::int32_t ix = grid_index(x - reach) - 1; ix <= grid_index(x + reach) + 1; ++ix) {
    const float dx = grid_at(ix) - x;
    for (std::int32_t iy = grid_index(y - reach) - 1; iy <= grid_index(y + reach) + 1; ++iy) {
      const float dy = grid_at(iy) - y;
      if (dx * dx + dy * dy <= within) sample(g, ix, iy, lo, hi);
    }
  }
  return out;
}

bool ground_memory::height_at(std::int32_t slot, float x, float y, float* z) const {
  const slot_ground& g = slots_[static_cast<std::size_t>(slot)];
  const std::int32_t ix = grid_index(x), iy = grid_index(y);
  const ground_sample& s = g.samples[torus_slot(side_, ix, iy)];
  if (!s.known || !s.found || s.ix != ix || s.iy != iy) return false;
  *z = s.z;
  return true;
}

}  // namespace overlay
