// The player's settings, from "MorvaHealthRing.ini" beside the plugin. With
// no file every value is the one the ring has always had, and nothing about
// the rings or the log changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "overlay/product_files.h"

namespace overlay {

constexpr std::size_t max_settings_bytes = 64 * 1024;

// Every value starts at its key's default in the table below.
struct ring_settings {
  ring_settings();
  bool enabled;                   // false: the rings start hidden
  int toggle_key;                 // virtual-key code, 0 for none
  float range;                    // greatest distance from the player
  float height_range;             // greatest height above or below the player
  float radius;                   // the ring's radius
  std::uint32_t opacity;          // alpha byte of both discs
  std::uint8_t full_health[3];    // red, green, blue at full health
  std::uint8_t low_health[3];     // towards zero health
  bool show_full_health;          // false: no ring at a clamped fraction of 1
  // The overlays, each off by default.
  bool show_armour;                        // an armour arc outside the health arc
  std::uint8_t armour_colour[3];
  bool show_recent_damage;                 // what a hit just took lingers, then shrinks
  std::uint8_t recent_damage_colour[3];
  float fade_distance;                     // the last this many units before range fade out
  int show_after_damage;                   // seconds: rings only after a fall of health
  bool show_without_hud;                   // rings also with the menu's HUD switched off
  // Who is who, each off by default.
  bool show_relationship;                  // a band telling hostile from friend
  std::uint8_t hostile_colour[3];
  std::uint8_t friend_colour[3];
  bool only_in_fight;                      // rings only for those in the player's fight
  bool mark_target;                        // the player's target always ringed, larger
  std::uint32_t show_kinds;                // bit n: pedestrians of kind n get rings
  bool allow_in_multiplayer;               // rings also with a multiplayer client loaded

  // Whether the draw pass asks who a pedestrian is, or how it stands to the player.
  bool asks_who() const { return show_relationship || only_in_fight || show_kinds != all_kinds; }
  static constexpr std::uint32_t all_kinds = 0xFFFFFFFFu;
  // Whether pedestrians' falls of health are followed from frame to frame.
  bool follows_damage() const { return show_recent_damage || show_after_damage > 0; }
};

// One key of [Rings], held once: its default as the file writes it, what it
// accepts, and its comment in the release's file.
enum class value_kind { flag, number, whole, colour, key, kinds };
struct setting_key {
  const char* name;
  value_kind kind;
  float low;
  float high;
  const char* default_text;  // "" for ToggleKey: no key
  const char* comment;
  // Reads text into the settings; false when the key does not accept it.
  bool (*read)(const setting_key& key, const std::string& text, ring_settings& s);
  const char* high_text = nullptr;  // the upper bound in words ("Range"), else the number
  const char* unit = "";            // " of seconds"
};
extern const setting_key setting_keys[23];

// The kinds of pedestrians ShowKinds names, as bits of the game's kinds.
std::uint32_t kinds_named(const std::string& text, bool* ok);

// What a key accepts and what it falls back to, in the words of the log.
std::string accepted_text(const setting_key& key);
std::string fallback_text(const setting_key& key);

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
