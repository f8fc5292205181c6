#include "overlay/ring_decal.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace overlay {
namespace {

// Positions relative to the hub, so that far from the world's origin the
// cuts keep their precision; texture coordinates carried along, so that
// every piece keeps the flat ring's.
struct point {
  double x, y, u, v;
  bool rim;  // one of the outline's rim points
};

constexpr int max_points = 40;
constexpr int max_fragments = 48;
constexpr double on_line = 1e-6;
constexpr double least_area = 1e-7;

struct polygon {
  int n = 0;
  point p[max_points];
  double min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  void bound() {
    min_x = max_x = p[0].x;
    min_y = max_y = p[0].y;
    for (int i = 1; i < n; ++i) {
      min_x = std::fmin(min_x, p[i].x);
      max_x = std::fmax(max_x, p[i].x);
      min_y = std::fmin(min_y, p[i].y);
      max_y = std::fmax(max_y, p[i].y);
    }
  }
  double area() const {
    double twice = 0.0;
    for (int i = 0; i < n; ++i) {
      const point& a = p[i];
      const point& b = p[i + 1 == n ? 0 : i + 1];
      twice += a.x * b.y - b.x * a.y;
    }
    return std::fabs(twice) * 0.5;
  }
};

// Inside where a x + b y + c >= 0, distances in units.
struct half_plane {
  double a, b, c;
};

// The parts of poly inside and outside h; either may come out empty.
void split(const polygon& poly, const half_plane& h, polygon* in, polygon* out) {
  in->n = out->n = 0;
  double d[max_points];
  for (int i = 0; i < poly.n; ++i) d[i] = h.a * poly.p[i].x + h.b * poly.p[i].y + h.c;
  for (int i = 0; i < poly.n; ++i) {
    const int j = i + 1 == poly.n ? 0 : i + 1;
    const point& a = poly.p[i];
    if (d[i] >= -on_line && in->n < max_points) in->p[in->n++] = a;
    if (d[i] <= on_line && out && out->n < max_points) out->p[out->n++] = a;
    if ((d[i] > on_line && d[j] < -on_line) || (d[i] < -on_line && d[j] > on_line)) {
      const point& b = poly.p[j];
      const double t = d[i] / (d[i] - d[j]);
      const point cut{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.u + (b.u - a.u) * t, a.v + (b.v - a.v) * t, false};
      if (in->n < max_points) in->p[in->n++] = cut;
      if (out && out->n < max_points) out->p[out->n++] = cut;
    }
  }
  if (in->n >= 3) in->bound();
  if (out && out->n >= 3) out->bound();
}

bool usable(const polygon& poly) { return poly.n >= 3 && poly.area() > least_area; }

// Copies only the points in use.
void assign(polygon& to, const polygon& from) {
  to.n = from.n;
  std::memcpy(to.p, from.p, sizeof(point) * static_cast<std::size_t>(from.n));
  to.min_x = from.min_x, to.max_x = from.max_x, to.min_y = from.min_y, to.max_y = from.max_y;
}

// The work space of one cut, sized once: pieces in a pool, the ones still
// to be laid by index, so that a piece no patch touches is never copied.
struct cut_space {
  polygon pool[max_fragments];
  int free_slots[max_fragments];
  int free_count = 0;
  int lists[2][max_fragments];
  polygon ping, pong;  // the piece inside the cuts so far

  void start() {
    free_count = max_fragments;
    for (int i = 0; i < max_fragments; ++i) free_slots[i] = max_fragments - 1 - i;
  }
  int take() { return free_count > 0 ? free_slots[--free_count] : -1; }
  void give_back(int slot) { free_slots[free_count++] = slot; }
};

cut_space& space() {
  static cut_space s;
  return s;
}

// The plain square root: the game's runtime need not have hypot.
double length_of(double x, double y) { return std::sqrt(x * x + y * y); }

bool level(const ground_patch& p) { return p.gx == 0.0 && p.gy == 0.0; }

// The patch under the hub that the centre's ground is on.
const ground_patch* centre_patch(const ring_place& at) {
  const slot_ground& g = *at.ground.slot;
  const ground_patch* best = nullptr;
  for (int i = 0; i < g.patch_count; ++i) {
    const ground_patch& p = g.patches[i];
    if (p.corners >= 3 && p.contains(at.x, at.y) && std::fabs(p.height(at.x, at.y) - at.ground.centre) <= coplanar_within) {
      best = &p;
    }
  }
  return best;
}

double segment_distance(double ax, double ay, double bx, double by) {  // from the origin
  const double ex = bx - ax, ey = by - ay, l = ex * ex + ey * ey;
  double t = l > 0.0 ? -(ax * ex + ay * ey) / l : 0.0;
  t = t < 0.0 ? 0.0 : t > 1.0 ? 1.0 : t;
  return length_of(ax + ex * t, ay + ey * t);
}

// Whether p's footprint reaches into the disc of radius r round the hub;
// with inside, whether it holds the whole disc.
bool under_disc(const ring_place& at, const ground_patch& p, float r, bool* inside) {
  *inside = false;
  if (p.corners < 3 || p.max_x < at.x - r || p.min_x > at.x + r || p.max_y < at.y - r || p.min_y > at.y + r) return false;
  double nearest = 1e30;
  for (int i = 0; i < p.corners; ++i) {
    const int j = i + 1 == p.corners ? 0 : i + 1;
    nearest = std::fmin(nearest, segment_distance(p.px[i] - static_cast<double>(at.x), p.py[i] - static_cast<double>(at.y),
                                                  p.px[j] - static_cast<double>(at.x), p.py[j] - static_cast<double>(at.y)));
  }
  const bool holds_hub = p.contains(at.x, at.y);
  *inside = holds_hub && nearest >= r;
  return holds_hub || nearest <= r;
}

}  // namespace

bool plain_fan(const ring_place& at, float radius, fan_plane* plane) {
  *plane = fan_plane{};
  if (!at.ground.found || at.ground.slot == nullptr) return true;
  const ground_patch* c = centre_patch(at);
  if (c == nullptr) return true;
  const double follow = ground_follow * radius;
  const bool flat = level(*c);
  bool held = false;
  const slot_ground& g = *at.ground.slot;
  for (int i = 0; i < g.patch_count; ++i) {
    const ground_patch& p = g.patches[i];
    bool inside = false;
    if (!under_disc(at, p, radius, &inside)) continue;
    if (coplanar(p, *c)) {
      held = held || inside;
      continue;
    }
    // Ground beyond the band lies level with the centre: one plane with it when that is level.
    if (flat && level(p) && std::fabs(p.z0 - at.ground.centre) > follow) continue;
    return false;
  }
  if (flat) return true;
  // A slope: one plane only where one patch of it holds the whole disc, and the band cuts none of it.
  if (!held || !(length_of(c->gx, c->gy) * radius <= follow)) return false;
  plane->gx = c->gx;
  plane->gy = c->gy;
  return true;
}

bool cut_fan(const ring_place& at, float heading, float fraction, std::uint32_t colour, float radius, decal_mesh* out) {
  out->vertex_count = out->index_count = 0;
  fan_outline outline;
  if (!outline_of(at, heading, fraction, radius, &outline)) return false;
  cut_space& cs = space();
  const double X = at.x, Y = at.y;
  const float hub_z = part_z(at, 0.0);

  // The outline as convex sectors of half a turn at most.
  cs.start();
  int* left = cs.lists[0];
  int* next = cs.lists[1];
  int left_count = 0;
  const int n = outline.segments;
  const int halves = n > full_disc_segments / 2 ? 2 : 1;
  for (int h = 0; h < halves; ++h) {
    const int from = h == 0 ? 0 : n / 2, to = halves == 1 ? n : h == 0 ? n / 2 : n;
    const int slot = cs.take();
    polygon& s = cs.pool[slot];
    s.n = 0;
    s.p[s.n++] = {0.0, 0.0, 0.5, 0.5, false};
    for (int i = from; i <= to; ++i) {
      s.p[s.n++] = {outline.x[i] - X, outline.y[i] - Y, outline.u[i], outline.v[i], true};
    }
    s.bound();
    left[left_count++] = slot;
  }

  // Vertex 0, the hub.
  host::RwIm3DVertex& hub = out->vertices[0];
  hub = host::RwIm3DVertex{};
  hub.x = at.x;
  hub.y = at.y;
  hub.z = hub_z;
  hub.colour = colour;
  hub.u = hub.v = 0.5f;
  out->vertex_count = 1;
  std::int32_t last_rim = -1;

  const auto emit = [&](const polygon& poly, const ground_patch* p) {
    if (out->vertex_count + static_cast<std::uint32_t>(poly.n) > decal_mesh::max_vertices ||
        out->index_count + 3u * static_cast<std::uint32_t>(poly.n) > decal_mesh::max_indices) {
      return;  // no room: a hole, never a fault
    }
    std::uint16_t index[max_points];
    for (int i = 0; i < poly.n; ++i) {
      const point& q = poly.p[i];
      const double rise = p ? p->height(X + q.x, Y + q.y) - at.ground.centre : 0.0;
      const float z = p ? part_z(at, rise) : hub_z;
      if (q.x == 0.0 && q.y == 0.0 && z == hub_z) {
        index[i] = 0;
        continue;
      }
      host::RwIm3DVertex& v = out->vertices[out->vertex_count];
      v = host::RwIm3DVertex{};
      v.x = static_cast<float>(X + q.x);
      v.y = static_cast<float>(Y + q.y);
      v.z = z;
      v.colour = colour;
      v.u = static_cast<float>(q.u);
      v.v = static_cast<float>(q.v);
      // Only the hub has the texture's centre: a disc begins at it.
      if (v.u == 0.5f && v.v == 0.5f) v.u = std::nextafter(0.5f, 1.0f);
      if (q.rim) last_rim = static_cast<std::int32_t>(out->vertex_count);
      index[i] = static_cast<std::uint16_t>(out->vertex_count++);
    }
    for (int i = 1; i + 1 < poly.n; ++i) {
      out->indices[out->index_count++] = index[0];
      out->indices[out->index_count++] = index[i];
      out->indices[out->index_count++] = index[i + 1];
    }
  };

  // The patches under the disc, the highest at the hub first: where two
  // overlap, the one on top is the ground.
  const slot_ground* g = at.ground.found ? at.ground.slot : nullptr;
  const int count = g ? g->patch_count : 0;
  int order[max_ground_patches];
  double top[max_ground_patches];
  int m = 0;
  const double follow = ground_follow * radius;
  for (int i = 0; i < count; ++i) {
    const ground_patch& p = g->patches[i];
    bool inside = false;
    if (!under_disc(at, p, radius, &inside)) continue;
    const double h = p.height(X, Y);
    if (level(p) && std::fabs(h - at.ground.centre) > follow) continue;  // beyond the band: level
    int k = m++;
    for (; k > 0 && top[k - 1] < h; --k) order[k] = order[k - 1], top[k] = top[k - 1];
    order[k] = i;
    top[k] = h;
  }

  for (int o = 0; o < m && left_count > 0; ++o) {
    const ground_patch& p = g->patches[order[o]];
    // The patch's footprint and, on a slope, the band it is followed in.
    half_plane cuts[ground_patch::max_corners + 2];
    int cut_count = 0;
    for (int i = 0; i < p.corners; ++i) {
      const int j = i + 1 == p.corners ? 0 : i + 1;
      const double ax = p.px[i] - X, ay = p.py[i] - Y, ex = p.px[j] - X - ax, ey = p.py[j] - Y - ay;
      const double length = length_of(ex, ey);
      if (!(length > 1e-9)) continue;
      cuts[cut_count++] = {-ey / length, ex / length, (ey * ax - ex * ay) / length};
    }
    if (!level(p)) {
      const double h0 = p.height(X, Y) - at.ground.centre, slope = length_of(p.gx, p.gy);
      cuts[cut_count++] = {-p.gx / slope, -p.gy / slope, (follow - h0) / slope};
      cuts[cut_count++] = {p.gx / slope, p.gy / slope, (follow + h0) / slope};
    }
    const double lo_x = p.min_x - X, hi_x = p.max_x - X, lo_y = p.min_y - Y, hi_y = p.max_y - Y;
    int next_count = 0;
    for (int f = 0; f < left_count; ++f) {
      const int slot = left[f];
      const polygon& frag = cs.pool[slot];
      if (frag.max_x < lo_x || frag.min_x > hi_x || frag.max_y < lo_y || frag.min_y > hi_y) {
        next[next_count++] = slot;
        continue;
      }
      // Cut by each edge in turn: what lies outside one is left for the
      // next patches, what lies inside all is this patch's.
      const polygon* work = &frag;
      bool inside = true, whole_outside = false;
      for (int c = 0; c < cut_count && inside; ++c) {
        double lo = 1e30, hi = -1e30;
        for (int i = 0; i < work->n; ++i) {
          const double d = cuts[c].a * work->p[i].x + cuts[c].b * work->p[i].y + cuts[c].c;
          lo = std::fmin(lo, d);
          hi = std::fmax(hi, d);
        }
        if (lo >= -on_line) continue;  // wholly inside this edge
        if (hi <= on_line) {           // wholly outside: left as it is
          inside = false;
          whole_outside = true;
          break;
        }
        polygon* in = work == &cs.ping ? &cs.pong : &cs.ping;
        const int out_slot = cs.take();
        polygon scratch;
        polygon* out = out_slot >= 0 ? &cs.pool[out_slot] : &scratch;
        split(*work, cuts[c], in, out);
        if (out_slot >= 0 && usable(*out) && next_count < max_fragments) {
          next[next_count++] = out_slot;
        } else if (out_slot >= 0) {
          cs.give_back(out_slot);
        }
        inside = usable(*in);
        work = in;
      }
      if (inside) emit(*work, &p);
      if (whole_outside && work == &frag) {
        next[next_count++] = slot;  // untouched
        continue;
      }
      if (whole_outside) {
        const int keep = cs.take();
        if (keep >= 0) {
          assign(cs.pool[keep], *work);
          next[next_count++] = keep;
        }
      }
      cs.give_back(slot);
    }
    std::swap(left, next);
    left_count = next_count;
  }
  // What no patch holds lies level with the centre's ground.
  for (int f = 0; f < left_count; ++f) emit(cs.pool[left[f]], nullptr);

  // A disc's last vertex lies on its rim.
  if (last_rim >= 0 && last_rim + 1 != static_cast<std::int32_t>(out->vertex_count) &&
      out->vertex_count < decal_mesh::max_vertices) {
    out->vertices[out->vertex_count++] = out->vertices[last_rim];
  }
  return true;
}

}  // namespace overlay
