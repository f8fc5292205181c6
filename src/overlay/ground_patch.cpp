#include "overlay/ground_patch.h"

#include <cmath>
#include <utility>

namespace overlay {
namespace {

// Steeper than this is a wall or a riser: a line down meets it only at an edge.
constexpr double least_up = 0.1;

double cross(double ax, double ay, double bx, double by, double cx, double cy) {
  return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

void bounds(ground_patch& p) {
  p.min_x = p.max_x = p.px[0];
  p.min_y = p.max_y = p.py[0];
  for (int i = 1; i < p.corners; ++i) {
    p.min_x = std::fmin(p.min_x, p.px[i]);
    p.max_x = std::fmax(p.max_x, p.px[i]);
    p.min_y = std::fmin(p.min_y, p.py[i]);
    p.max_y = std::fmax(p.max_y, p.py[i]);
  }
}

bool near(float a, float b) { return std::fabs(a - b) <= coplanar_within; }

bool set_plane(ground_patch& p, const float point[3], double nx, double ny, double nz) {
  const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
  if (!(length > 0.0)) return false;
  nx /= length;
  ny /= length;
  nz /= length;
  if (nz < 0.0) nx = -nx, ny = -ny, nz = -nz;
  if (!(nz >= least_up)) return false;
  p.x0 = point[0];
  p.y0 = point[1];
  p.z0 = point[2];
  p.gx = -nx / nz;
  p.gy = -ny / nz;
  p.normal[0] = static_cast<float>(nx);
  p.normal[1] = static_cast<float>(ny);
  p.normal[2] = static_cast<float>(nz);
  return true;
}

}  // namespace

bool ground_patch::contains(float x, float y) const {
  if (x < min_x || x > max_x || y < min_y || y > max_y || corners < 3) return false;
  for (int i = 0; i < corners; ++i) {
    const int j = i + 1 == corners ? 0 : i + 1;
    if (cross(px[i], py[i], px[j], py[j], x, y) < -1e-7) return false;
  }
  return true;
}

bool patch_of_triangle(const float c[3][3], ground_patch* out) {
  ground_patch p;
  const double ux = c[1][0] - c[0][0], uy = c[1][1] - c[0][1], uz = c[1][2] - c[0][2];
  const double vx = c[2][0] - c[0][0], vy = c[2][1] - c[0][1], vz = c[2][2] - c[0][2];
  if (!set_plane(p, c[0], uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx)) return false;
  const bool ccw = cross(c[0][0], c[0][1], c[1][0], c[1][1], c[2][0], c[2][1]) > 0.0;
  for (int i = 0; i < 3; ++i) {
    const int k = ccw ? i : 2 - i;
    p.px[i] = c[k][0];
    p.py[i] = c[k][1];
  }
  p.corners = 3;
  p.triangles = 1;
  bounds(p);
  *out = p;
  return true;
}

bool patch_of_box(const float point[3], const float normal[3], ground_patch* out) {
  ground_patch p;
  if (!set_plane(p, point, normal[0], normal[1], normal[2])) return false;
  p.box = true;
  p.px[0] = point[0];
  p.py[0] = point[1];
  p.corners = 1;
  bounds(p);
  *out = p;
  return true;
}

bool coplanar(const ground_patch& a, const ground_patch& b) {
  for (int i = 0; i < 3; ++i) {
    if (!near(a.normal[i], b.normal[i])) return false;
  }
  return std::fabs(a.height(b.x0, b.y0) - b.z0) <= coplanar_within;
}

bool same_surface(const ground_patch& kept, const ground_patch& met) {
  if (kept.box != met.box || kept.entity != met.entity || !coplanar(kept, met)) return false;
  if (kept.box) return true;
  // One of the triangles joined in the patch: all its corners are the patch's.
  for (int i = 0; i < met.corners; ++i) {
    bool found = false;
    for (int j = 0; j < kept.corners && !found; ++j) found = near(kept.px[j], met.px[i]) && near(kept.py[j], met.py[i]);
    if (!found && !kept.contains(met.px[i], met.py[i])) return false;
  }
  return true;
}

bool join_triangle(ground_patch& p, const ground_patch& t) {
  if (p.box || t.box || p.entity != t.entity || p.corners + 1 > ground_patch::max_corners || !coplanar(p, t)) return false;
  for (int i = 0; i < p.corners; ++i) {
    const int j = i + 1 == p.corners ? 0 : i + 1;
    for (int k = 0; k < 3; ++k) {
      // The triangle runs the shared edge the other way round.
      const int a = k, b = (k + 1) % 3, apex = (k + 2) % 3;
      if (!(near(t.px[a], p.px[j]) && near(t.py[a], p.py[j]) && near(t.px[b], p.px[i]) && near(t.py[b], p.py[i]))) continue;
      const int before = i == 0 ? p.corners - 1 : i - 1, after = j + 1 == p.corners ? 0 : j + 1;
      // Convex at both ends of the shared edge once the apex stands between them.
      if (cross(p.px[before], p.py[before], p.px[i], p.py[i], t.px[apex], t.py[apex]) < -1e-6) return false;
      if (cross(t.px[apex], t.py[apex], p.px[j], p.py[j], p.px[after], p.py[after]) < -1e-6) return false;
      for (int m = p.corners; m > j; --m) {
        p.px[m] = p.px[m - 1];
        p.py[m] = p.py[m - 1];
      }
      p.px[j] = t.px[apex];
      p.py[j] = t.py[apex];
      ++p.corners;
      ++p.triangles;
      // A corner left on a straight side is no corner.
      for (int m = 0; m < p.corners && p.corners > 3;) {
        const int prev = m == 0 ? p.corners - 1 : m - 1, next = m + 1 == p.corners ? 0 : m + 1;
        if (std::fabs(cross(p.px[prev], p.py[prev], p.px[m], p.py[m], p.px[next], p.py[next])) <= 1e-7) {
          for (int q = m; q + 1 < p.corners; ++q) {
            p.px[q] = p.px[q + 1];
            p.py[q] = p.py[q + 1];
          }
          --p.corners;
        } else {
          ++m;
        }
      }
      bounds(p);
      return true;
    }
  }
  return false;
}

void add_box_point(ground_patch& p, float x, float y) {
  if (p.contains(x, y)) return;
  for (int i = 0; i < p.corners; ++i) {
    if (near(p.px[i], x) && near(p.py[i], y)) return;
  }
  // The hull of the corners and the point, by the monotone chain.
  float xs[ground_patch::max_corners + 1], ys[ground_patch::max_corners + 1];
  int n = 0;
  for (int i = 0; i < p.corners; ++i, ++n) xs[n] = p.px[i], ys[n] = p.py[i];
  xs[n] = x;
  ys[n++] = y;
  if (n <= 2) {
    p.px[n - 1] = x;
    p.py[n - 1] = y;
    p.corners = static_cast<std::uint8_t>(n);
    bounds(p);
    return;
  }
  for (int i = 1; i < n; ++i) {  // by x, then y
    for (int j = i; j > 0 && (xs[j] < xs[j - 1] || (xs[j] == xs[j - 1] && ys[j] < ys[j - 1])); --j) {
      std::swap(xs[j], xs[j - 1]);
      std::swap(ys[j], ys[j - 1]);
    }
  }
  float hx[2 * (ground_patch::max_corners + 1)], hy[2 * (ground_patch::max_corners + 1)];
  int h = 0;
  for (int pass = 0; pass < 2; ++pass) {
    const int start = h;
    for (int k = 0; k < n; ++k) {
      const int i = pass == 0 ? k : n - 1 - k;
      while (h >= start + 2 && cross(hx[h - 2], hy[h - 2], hx[h - 1], hy[h - 1], xs[i], ys[i]) <= 1e-9) --h;
      hx[h] = xs[i];
      hy[h++] = ys[i];
    }
    --h;  // its last is the other chain's first
  }
  if (h > ground_patch::max_corners || h < 1) return;  // no room: the top stays as found so far
  for (int i = 0; i < h; ++i) p.px[i] = hx[i], p.py[i] = hy[i];
  p.corners = static_cast<std::uint8_t>(h);
  bounds(p);
}

}  // namespace overlay
