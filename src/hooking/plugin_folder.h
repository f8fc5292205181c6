// The folder that holds the plugin file, wherever the loader found it.
#pragma once

#include <string>

namespace hooking {

constexpr unsigned max_path_buffer = 261;  // 260 characters and the terminator
constexpr unsigned max_long_path = 32768;  // the longest path Windows knows, terminator included

// The folder with its trailing separator. Looked up on the first call only.
const char* plugin_folder();

// The same lookup for use under the loader lock: no error box, nothing kept,
// and false (folder empty) when the plugin's own module or its folder cannot
// be found.
bool find_plugin_folder_quietly(std::string* folder);
// The plugin file's own path, found the same quiet way.
bool find_plugin_path_quietly(std::string* path);

// The folder joined with relative_name, in a buffer that the next call
// overwrites. A join of 260 characters or more on a drive or share gets the
// \\?\ prefix that lets Windows open it; empty when it cannot be held at all.
const char* plugin_relative_path(const char* relative_name);

// printf-style message in an error box owned by the active window.
void show_error_box(const char* format, ...);

}  // namespace hooking
