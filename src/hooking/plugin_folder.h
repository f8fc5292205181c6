// The folder that holds the plugin file, wherever the loader found it.
#pragma once

#include <string>

#include "hooking/error_box.h"

namespace hooking {

constexpr unsigned max_path_buffer = 261;  // 260 characters and the terminator
constexpr unsigned max_long_path = 32768;  // the longest path Windows knows, terminator included

// The folder with its trailing separator, in the ANSI code page (its short
// form where the code page cannot name it). Looked up on the first call only.
const char* plugin_folder();
// The same folder in full, wide. Looked up with plugin_folder.
const std::wstring& plugin_folder_w();

// The same lookups for use under the loader lock: no error box, nothing
// kept, and false (folder empty) when the plugin's own module or its folder
// cannot be found.
bool find_plugin_folder_quietly(std::string* folder);
bool find_plugin_folder_quietly_w(std::wstring* folder);
// The plugin file's own path, found the same quiet way.
bool find_plugin_path_quietly(std::string* path);

// The folder joined with relative_name, in a buffer that the next call
// overwrites. A join of 260 characters or more on a drive or share gets the
// \\?\ prefix that lets Windows open it; empty when it cannot be held at all.
const char* plugin_relative_path(const char* relative_name);

// The wide folder joined with relative_name, as the plugin opens its own
// files: with the \\?\ prefix beyond 259 characters.
std::wstring plugin_file_path(const std::wstring& folder, const char* relative_name);
std::wstring plugin_file_path(const char* relative_name);

// A file of the plugin folder as the game's narrow file functions can open
// it: at most 259 characters, each in the ANSI code page. The full path when
// it can be carried; else the folder's short form; else the path relative to
// the game's current folder, when the plugin folder lies under it.
struct game_path {
  std::string handed;  // empty: no form of the path can be handed to the game
  std::string shown;   // for the log: handed, or the full path as near as the code page comes
};
game_path plugin_path_for_game(const char* relative_name);

}  // namespace hooking
