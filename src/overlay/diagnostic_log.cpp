#include "overlay/diagnostic_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "hooking/plugin_folder.h"
#include "overlay/plugin_state.h"
#include "platform/os.h"

namespace overlay {
namespace {

// An explicit CR LF: the same bytes from every system, and a line feed inside
// a formatted argument stays as it is.
constexpr char line_end[] = "\r\n";

// The line and its end in one write, through the wide API: a folder of any
// name and length holds the log.
void write_line(const std::wstring& path, os::file_open how, const char* text) {
  os::file_handle file = os::open_file_w(path.c_str(), how);
  if (!file) return;
  char line[log_line_capacity + sizeof line_end];
  const std::size_t length = std::strlen(text);
  std::memcpy(line, text, length);
  std::memcpy(line + length, line_end, sizeof line_end - 1);
  os::write_file(file, line, static_cast<std::uint32_t>(length + sizeof line_end - 1));
  os::close_file(file);
}

}  // namespace

void start_log() {
  state().log_started = true;
  state().log_path = hooking::plugin_file_path(log_file_name);
  write_line(state().log_path, os::file_open::write_new, "MorvaHealthRing started");
}

void log_unsupported_build(std::uint32_t build_id) {
  std::wstring folder;
  if (!hooking::find_plugin_folder_quietly_w(&folder)) return;
  char text[96];
  std::snprintf(text, sizeof text, "MorvaHealthRing not started: unsupported game executable (build id %u)",
                static_cast<unsigned>(build_id));
  write_line(hooking::plugin_file_path(folder, log_file_name), os::file_open::write_new, text);
}

void log_line(const char* format, ...) {
  if (state().log_path.empty()) return;
  char buffer[log_line_capacity];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  write_line(state().log_path, os::file_open::append, buffer);
}

}  // namespace overlay
