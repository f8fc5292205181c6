// A top-down picture of one frame around the player: the recorded fans with
// their textures and vertex colours over a ground grid, every pedestrian
// labelled, and a legend beside the map.
#pragma once

#include <string>
#include <vector>

#include "sim/host_world.h"
#include "png/png_io.h"
#include "sim/scenario.h"
#include "txd/dictionary.h"

namespace sim {

constexpr int preview_size = 768;   // the map, square
constexpr int preview_panel = 470;  // the legend beside it
constexpr float preview_pixels_per_unit = 14.0f;

// Every label lies inside the map: a dot near its right edge has its label
// on its left.
png::image render_preview(const scenario& scene, const std::vector<host_call>& fans, const txd::dictionary& textures);

}  // namespace sim
