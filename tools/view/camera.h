// The camera the view is seen through: where it stands and looks, and the
// matrices that take world points to the picture, for the device and for the
// points view.json reports alike.
#pragma once

#include "sim/scenario.h"

namespace view {

constexpr int picture_width = 1280;
constexpr int picture_height = 720;

// Row-major, for row vectors (p' = p M), as Direct3D takes them.
struct matrix {
  float m[4][4] = {};
};

struct camera {
  sim::vec3 eye;
  sim::vec3 target;
  matrix view;
  matrix projection;
};

// The scenario's camera_position and camera_target, or by default 7 units
// behind the player against camera_forward and 3.5 above, looking at the
// player's feet plus 2 units along camera_forward; the game's field of view,
// near 0.1, far 500.
camera camera_for(const sim::scenario& scene);

// The game's: 70 degrees across a 4:3 picture, so about 55.4 degrees from top
// to bottom, whatever the picture's width.
float vertical_field_of_view();

// Where a world point lands in the picture, in pixels from the top left;
// false when it lies behind the camera.
bool project(const camera& cam, const sim::vec3& point, float* x, float* y);

// The player's position (the origin when the scene has no player).
sim::vec3 player_position(const sim::scenario& scene);

}  // namespace view
