#include "tools/view/camera.h"

#include <cmath>

namespace view {
namespace {

sim::vec3 minus(sim::vec3 a, sim::vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float dot(sim::vec3 a, sim::vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
sim::vec3 cross(sim::vec3 a, sim::vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
sim::vec3 unit(sim::vec3 a) {
  const float length = std::sqrt(dot(a, a));
  return length > 0.0f ? sim::vec3{a.x / length, a.y / length, a.z / length} : sim::vec3{0.0f, 1.0f, 0.0f};
}

// The world is right-handed with z up. The camera looks down its -z axis,
// x to the right of the picture and y up, as a right-handed view does.
matrix look_at(sim::vec3 eye, sim::vec3 target) {
  const sim::vec3 back = unit(minus(eye, target));
  sim::vec3 up{0.0f, 0.0f, 1.0f};
  if (std::fabs(dot(back, up)) > 0.999f) up = {0.0f, 1.0f, 0.0f};
  const sim::vec3 right = unit(cross(up, back));
  const sim::vec3 true_up = cross(back, right);
  matrix v;
  const sim::vec3 axes[3] = {right, true_up, back};
  for (int c = 0; c < 3; ++c) {
    v.m[0][c] = axes[c].x;
    v.m[1][c] = axes[c].y;
    v.m[2][c] = axes[c].z;
    v.m[3][c] = -dot(axes[c], eye);
  }
  v.m[3][3] = 1.0f;
  return v;
}

// Depth from 0 at near to 1 at far, as Direct3D's depth buffer takes it.
matrix perspective(float fov_y, float aspect, float near_plane, float far_plane) {
  matrix p;
  const float y_scale = 1.0f / std::tan(fov_y / 2.0f);
  p.m[0][0] = y_scale / aspect;
  p.m[1][1] = y_scale;
  p.m[2][2] = far_plane / (near_plane - far_plane);
  p.m[2][3] = -1.0f;
  p.m[3][2] = near_plane * far_plane / (near_plane - far_plane);
  return p;
}

void transform(const matrix& m, const float in[4], float out[4]) {
  for (int c = 0; c < 4; ++c) {
    out[c] = in[0] * m.m[0][c] + in[1] * m.m[1][c] + in[2] * m.m[2][c] + in[3] * m.m[3][c];
  }
}

}  // namespace

sim::vec3 player_position(const sim::scenario& scene) {
  return scene.player ? scene.player->position : sim::vec3{};
}

float vertical_field_of_view() {
  // The game's 70 degrees lie across a 4:3 picture; a wider one keeps that
  // picture's vertical angle and sees more at the sides.
  const double half_across = 35.0 * 3.14159265358979 / 180.0;
  return static_cast<float>(2.0 * std::atan(std::tan(half_across) * 3.0 / 4.0));
}

camera camera_for(const sim::scenario& scene) {
  const sim::vec3 feet = [&] {
    sim::vec3 p = player_position(scene);
    p.z -= 1.0f;
    return p;
  }();
  const float fx = scene.camera_forward[0], fy = scene.camera_forward[1];
  const float length = std::sqrt(fx * fx + fy * fy);
  const float dx = length > 0.0f ? fx / length : 0.0f, dy = length > 0.0f ? fy / length : 1.0f;
  camera cam;
  const sim::vec3 player = player_position(scene);
  cam.eye = scene.camera_position.value_or(sim::vec3{player.x - 7.0f * dx, player.y - 7.0f * dy, player.z + 3.5f});
  cam.target = scene.camera_target.value_or(sim::vec3{feet.x + 2.0f * dx, feet.y + 2.0f * dy, feet.z});
  cam.view = look_at(cam.eye, cam.target);
  cam.projection = perspective(vertical_field_of_view(), static_cast<float>(picture_width) / picture_height, 0.1f, 500.0f);
  return cam;
}

bool project(const camera& cam, const sim::vec3& point, float* x, float* y) {
  const float world[4] = {point.x, point.y, point.z, 1.0f};
  float eye[4], clip[4];
  transform(cam.view, world, eye);
  transform(cam.projection, eye, clip);
  if (!(clip[3] > 0.0f)) return false;
  *x = (clip[0] / clip[3] + 1.0f) * 0.5f * picture_width;
  *y = (1.0f - clip[1] / clip[3]) * 0.5f * picture_height;
  return true;
}

}  // namespace view
