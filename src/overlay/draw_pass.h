// Once per rendered frame: load retries, render states, one ring per
// pedestrian, and the statistics line.
#pragma once

#include <cstdint>

namespace overlay {

// The load-retry period and the statistics period, in frames.
constexpr std::int32_t frames_per_report = 600;

void draw_pass();

}  // namespace overlay
