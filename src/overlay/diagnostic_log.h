// "MorvaHealthRing.log" beside the plugin file: one line per call, opened and
// closed each time, so that other programs can read it while the game runs.
#pragma once

namespace overlay {

constexpr const char* log_file_name = "MorvaHealthRing.log";
constexpr unsigned log_line_capacity = 512;  // 511 characters and the terminator

// Points the log at the plugin folder and starts the file afresh.
void start_log();

// One printf-style line; nothing while the log has no path.
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace overlay
