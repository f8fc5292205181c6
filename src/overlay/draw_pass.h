// Once per rendered frame: load retries, render states, one ring per
// pedestrian, and the statistics line.
#pragma once

#include <cstdint>

namespace overlay {

// The load-retry period and the statistics period, in frames.
constexpr std::int32_t frames_per_report = 600;

void draw_pass();
// The same on the state the caller already holds.
struct plugin_state;
void draw_pass(plugin_state& s);

}  // namespace overlay
