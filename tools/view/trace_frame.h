// One drawn frame of a trace.jsonl: the plugin's calls to the game in order,
// with the render states that earlier frames left set.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/renderware_constants.h"

namespace view {

struct fan_vertex {
  float x, y, z;
  std::uint32_t colour;  // 0xAARRGGBB, as the game's vertex holds it
  float u, v;
};

struct replay_call {
  enum kind_type { set_state, draw_fan } kind = set_state;
  std::int32_t state = 0;
  std::uint32_t value = 0;
  std::string texture;            // host::rwRENDERSTATETEXTURERASTER: whose raster; empty for none
  bool accepted = false;          // draw_fan: the transform was accepted and its triangles rendered
  std::vector<fan_vertex> vertices;
  std::vector<std::uint16_t> indices;  // draw_fan: a triangle list into vertices
};


struct drawn_frame {
  std::int32_t frame = 0;
  std::string dictionary;            // as the plugin handed it to the game's loader
  std::vector<replay_call> earlier;  // the last value of each state set before the frame
  std::vector<replay_call> calls;    // the frame's own, in order
  bool draws = false;                // the plugin drew a fan in it
  // Where pedestrians that moved stood in the frame, by slot.
  std::vector<std::pair<int, std::array<float, 3>>> moved;
};

struct frame_result {
  bool ok = false;
  drawn_frame value;
  std::string error;  // one line: what is wrong and where
};

// wanted 0: the last frame with an accepted fan, or the last frame when none
// has one. A frame the trace does not reach is refused.
frame_result read_frame(const std::string& trace_text, std::int32_t wanted);

}  // namespace view
