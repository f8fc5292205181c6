// The picture of one frame through Direct3D 9: the world first, then the
// plugin's calls as RenderWare's Direct3D 9 driver passes them on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/view/camera.h"
#include "tools/view/trace_frame.h"
#include "txd/dictionary.h"
#include "tools/view/world.h"

namespace view {

struct render_result {
  bool ok = false;
  std::vector<std::uint8_t> rgba;  // picture_width x picture_height, rows top-down
  std::string error;
};

// textures: the dictionary the trace loaded; replay false draws the world alone.
render_result render(const camera& cam, const world_mesh& world, const drawn_frame& frame,
                     const txd::dictionary& textures, bool replay);

}  // namespace view
