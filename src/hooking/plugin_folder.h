// The folder that holds the plugin file, wherever the loader found it.
#pragma once

namespace hooking {

constexpr unsigned max_path_buffer = 261;  // 260 characters and the terminator

// The folder with its trailing separator. Looked up on the first call only.
const char* plugin_folder();

// The same lookup for use under the loader lock: no error box, nothing kept,
// and false (folder empty) when the plugin's own module or its folder cannot
// be found.
bool find_plugin_folder_quietly(char (&folder)[max_path_buffer]);

// The folder joined with relative_name, in a buffer that the next call
// overwrites. Empty when the two together do not fit in 260 characters.
const char* plugin_relative_path(const char* relative_name);

// printf-style message in an error box owned by the active window.
void show_error_box(const char* format, ...);

}  // namespace hooking
