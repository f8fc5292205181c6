// The rings of a drawn frame as the picture shows them, for view.json.
#pragma once

#include <string>
#include <vector>

#include "tools/view/camera.h"
#include "tools/view/trace_frame.h"

namespace view {

struct ring_on_screen {
  int slot = -1;  // the scenario's pedestrian over whose feet it lies; -1 for none
  sim::vec3 world;
  float screen_x = 0.0f, screen_y = 0.0f;
  float radius_px = 0.0f;
  bool on_screen = false;  // false: its centre lies behind the camera
};

// One per accepted fan drawn with the background texture.
std::vector<ring_on_screen> rings_of(const drawn_frame& frame, const sim::scenario& scene, const camera& cam);

std::string view_json(std::int32_t frame, const std::vector<ring_on_screen>& rings);

}  // namespace view
