// The player's settings, from "MorvaHealthRing.ini" beside the plugin. With
// no file every value is the one the ring has always had, and nothing about
// the rings or the log changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace overlay {

constexpr const char* settings_file_name = "MorvaHealthRing.ini";
constexpr std::size_t max_settings_bytes = 64 * 1024;

struct ring_settings {
  bool enabled = true;          // false: the rings start hidden
  int toggle_key = 0;           // virtual-key code, 0 for none
  float range = 25.0f;          // greatest distance from the player
  float height_range = 6.0f;    // greatest height above or below the player
  float radius = 1.0f;          // the ring's radius
  std::uint32_t opacity = 255;  // alpha byte of both discs
  std::uint8_t full_health[3] = {0, 255, 0};  // red, green, blue at full health
  std::uint8_t low_health[3] = {255, 0, 0};   // towards zero health
  bool show_full_health = true;  // false: no ring at a clamped fraction of 1
};

// What reading the settings came to: the values, and the log lines that say
// what was read and what was wrong. No file: defaults and no lines.
struct settings_result {
  ring_settings values;
  std::vector<std::string> lines;
};

// Parses the file's bytes (already cut to max_settings_bytes).
settings_result parse_settings(const std::string& text);
// Reads the file at path; a missing file gives the defaults and no line.
settings_result read_settings(const std::wstring& path);

}  // namespace overlay
