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
  // The overlays, each off by default.
  bool show_armour = false;                        // an armour arc outside the health arc
  std::uint8_t armour_colour[3] = {220, 220, 220};
  bool show_recent_damage = false;                 // what a hit just took lingers, then shrinks
  std::uint8_t recent_damage_colour[3] = {255, 255, 255};
  float fade_distance = 0.0f;                      // the last this many units before range fade out
  int show_after_damage = 0;                       // seconds: rings only after a fall of health

  // Whether any overlay is on: without, the draw pass is the plain one.
  bool overlays() const { return show_armour || show_recent_damage || fade_distance > 0.0f || show_after_damage > 0; }
  // Whether pedestrians' falls of health are followed from frame to frame.
  bool follows_damage() const { return show_recent_damage || show_after_damage > 0; }
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
