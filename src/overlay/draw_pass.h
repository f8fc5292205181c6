// Once per rendered frame: load retries, the toggle key, what the frame
// needs read once, a plan per ringed pedestrian (where its ring lies, which
// fans, which alpha), the passes in batches, and the statistics line.
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
