#include "overlay/diagnostic_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "hooking/plugin_folder.h"
#include "overlay/plugin_state.h"

namespace overlay {
namespace {

// Binary mode and an explicit CR LF: the same bytes from every C runtime, and
// a line feed inside a formatted argument stays as it is.
constexpr char line_end[] = "\r\n";

void write_line(const char* path, const char* mode, const char* text) {
  FILE* file = std::fopen(path, mode);
  if (!file) return;
  std::fwrite(text, 1, std::strlen(text), file);
  std::fwrite(line_end, 1, 2, file);
  std::fclose(file);
}

}  // namespace

void start_log() {
  state().log_started = true;
  state().log_path = hooking::plugin_relative_path(log_file_name);
  if (state().log_path.empty()) return;  // no path could be built: no file
  write_line(state().log_path.c_str(), "wb", "MorvaHealthRing started");
}

void log_unsupported_build(std::uint32_t build_id) {
  std::string folder;
  if (!hooking::find_plugin_folder_quietly(&folder)) return;
  char text[96];
  std::snprintf(text, sizeof text, "MorvaHealthRing not started: unsupported game executable (build id %u)",
                static_cast<unsigned>(build_id));
  write_line((folder + log_file_name).c_str(), "wb", text);
}

void log_line(const char* format, ...) {
  if (state().log_path.empty()) return;
  char buffer[log_line_capacity];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  write_line(state().log_path.c_str(), "ab", buffer);
}

}  // namespace overlay
