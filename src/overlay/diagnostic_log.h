// "MorvaHealthRing.log" beside the plugin file: one line per call, opened and
// closed each time, so that other programs can read it while the game runs.
#pragma once

#include <cstdint>

#include "overlay/product_files.h"

namespace overlay {

constexpr unsigned log_line_capacity = 512;  // 511 characters and the terminator

// Points the log at the plugin folder and starts the file afresh.
void start_log();

// At load, under a build that is not served: a log holding only the line that
// says so, for the player who looks there first. Nothing when the plugin's
// folder cannot be found (this runs under the loader lock: no box either).
void log_unsupported_build(std::uint32_t build_id);

// One printf-style line; nothing while the log has no path.
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace overlay
