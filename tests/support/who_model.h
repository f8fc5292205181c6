// Who is who, modelled from a scenario as the rules say (not with the
// plugin's code): which pedestrians get a ring in a frame, and which band,
// under the settings that tell friend from foe; and the discs a trace holds.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace test {

struct who_settings {
  bool relationship = false, only_in_fight = false, mark_target = false;
  std::string kinds = "all";
  int after_damage = 0;  // ShowAfterDamage
  float fade = 0.0f;     // FadeDistance
  std::string ini() const;
};

// Each who-is-who key alone: none, ShowRelationship, OnlyInFight, MarkTarget
// (with ShowAfterDamage and FadeDistance, which it overrides), then each kind.
std::vector<who_settings> who_variants();

struct expected_ring {
  float scale = 1.0f;       // of every fan's radius
  std::uint32_t alpha = 255;
  std::uint32_t band = 0;   // the band's colour, 0xRRGGBB, or 0 for none
};

// Slot by slot, the rings of frame f of a scenario (its peds, ped_changes
// and player targets applied up to f).
std::map<int, expected_ring> expected_rings(const nlohmann::json& scene, const who_settings& s, int frame);

// Every disc of a trace's accepted batches, split at hub vertices:
// {"frame", "texture", "vertices", "indices"}.
std::vector<nlohmann::json> discs_of_trace(const std::vector<nlohmann::json>& trace);

// The rings a frame's discs show, slot by slot, as the expectations say them;
// empty, or what differs.
std::string compare_rings(const nlohmann::json& scene, const std::vector<nlohmann::json>& discs, int frame,
                          const std::map<int, expected_ring>& expected);

// A scene of Ballas, Vagos, Grove, police, civilians and others around the
// player, who locks on to a far civilian and later aims at a Vagos; a
// bystander turns on the player at frame 5.
nlohmann::json who_scene();

}  // namespace test
