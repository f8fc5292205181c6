// A piece of the ground a ring lies on: a convex footprint in the ground
// plane with one plane over it. A collision triangle the game's queries met
// is one; coplanar triangles that share an edge join into one while their
// union stays convex; the top of a collision box is the convex hull of the
// points found on it.
#pragma once

#include <cstdint>

#include "host/host_services.h"

namespace overlay {

// Normals and heights closer than this are one plane.
constexpr float coplanar_within = 1e-4f;

struct ground_patch {
  static constexpr int max_corners = 12;
  // The plane: z0 at (x0, y0), rising gx per unit along x and gy along y.
  float x0 = 0.0f, y0 = 0.0f, z0 = 0.0f;
  double gx = 0.0, gy = 0.0;
  float normal[3] = {0.0f, 0.0f, 1.0f};
  // The footprint, counter-clockwise seen from above; for a box the points
  // found on its top, and their hull.
  float px[max_corners], py[max_corners];
  std::uint8_t corners = 0;
  std::uint8_t triangles = 0;  // collision triangles joined in it
  bool box = false;
  host::entity_type kind = host::entity_type::building;
  const void* entity = nullptr;
  float min_x = 0.0f, min_y = 0.0f, max_x = 0.0f, max_y = 0.0f;
  // Where it was met, and the event it was last met in: asked again there.
  float probe[3] = {};
  std::int32_t asked = 0;

  double height(double x, double y) const { return z0 + gx * (x - x0) + gy * (y - y0); }
  bool contains(float x, float y) const;
  bool moves() const { return kind == host::entity_type::vehicle || kind == host::entity_type::object; }
};

// A patch of one collision triangle; false for a triangle seen edge on (a
// wall), which is no ground.
bool patch_of_triangle(const float corners[3][3], ground_patch* out);
// A patch of a box's top around the point met, from its normal.
bool patch_of_box(const float point[3], const float normal[3], ground_patch* out);

bool coplanar(const ground_patch& a, const ground_patch& b);
// The same triangle (or box top) as the one a query met again.
bool same_surface(const ground_patch& kept, const ground_patch& met);
// Joins t (one triangle) into p where they are coplanar, share an edge and
// stay convex together.
bool join_triangle(ground_patch& p, const ground_patch& t);
// Adds a point found on a box's top to its hull.
void add_box_point(ground_patch& p, float x, float y);

}  // namespace overlay
