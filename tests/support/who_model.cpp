#include "tests/support/who_model.h"

#include <cmath>

namespace test {

using nlohmann::json;

std::string who_settings::ini() const {
  std::string t = "[Rings]\n";
  if (relationship) t += "ShowRelationship=1\n";
  if (only_in_fight) t += "OnlyInFight=1\n";
  if (mark_target) t += "MarkTarget=1\n";
  if (kinds != "all") t += "ShowKinds=" + kinds + "\n";
  if (after_damage) t += "ShowAfterDamage=" + std::to_string(after_damage) + "\n";
  if (fade > 0.0f) t += "FadeDistance=" + std::to_string(static_cast<int>(fade)) + "\n";
  return t;
}

std::vector<who_settings> who_variants() {
  std::vector<who_settings> variants(4);
  variants[1].relationship = true;
  variants[2].only_in_fight = true;
  variants[3].mark_target = true;
  variants[3].after_damage = 5;
  variants[3].fade = 5.0f;
  for (const char* kinds : {"civilians", "gangs", "police", "emergency", "criminals", "mission", "players"}) {
    variants.emplace_back().kinds = kinds;
  }
  return variants;
}

namespace {

bool kind_shown(const std::string& kinds, int kind) {
  if (kinds == "all") return true;
  const std::map<std::string, std::vector<int>> named = {
      {"civilians", {4, 5}},           {"gangs", {7, 8, 9, 10, 11, 12, 13, 14, 15, 16}}, {"police", {6}},
      {"emergency", {18, 19}},         {"criminals", {17, 20, 21, 22}},
      {"mission", {23, 24, 25, 26, 27, 28, 29, 30, 31}}, {"players", {1, 2, 3}}};
  for (int k : named.at(kinds)) {
    if (k == kind) return true;
  }
  return false;
}

bool holds_player(const json& ped, const char* mask) {
  if (!ped.contains("acquaintance") || !ped["acquaintance"].contains(mask)) return false;
  for (const json& k : ped["acquaintance"][mask]) {
    if (k == 0) return true;
  }
  return false;
}

}  // namespace

std::map<int, expected_ring> expected_rings(const json& scene, const who_settings& s, int frame) {
  // The scene as it stands at this frame.
  std::map<int, json> peds;
  for (const json& p : scene["peds"]) peds[p["slot"].get<int>()] = p;
  json lock = scene["player"].value("lock_target", json()), aim = scene["player"].value("aim_target", json());
  for (const json& c : scene.value("ped_changes", json::array())) {
    if (c["frame"].get<int>() > frame) continue;
    if (!c.contains("slot")) {
      if (c.contains("lock_target")) lock = c["lock_target"];
      if (c.contains("aim_target")) aim = c["aim_target"];
      continue;
    }
    for (auto it = c.begin(); it != c.end(); ++it) {
      if (it.key() != "frame" && it.key() != "slot") peds[c["slot"].get<int>()][it.key()] = it.value();
    }
  }
  const json& player = scene["player"]["position"];
  int target = -1;
  if (s.mark_target) target = !lock.is_null() ? lock.get<int>() : !aim.is_null() ? aim.get<int>() : -1;

  std::map<int, expected_ring> out;
  for (const auto& [slot, p] : peds) {
    const float dx = float(p["position"][0]) - float(player[0]), dy = float(p["position"][1]) - float(player[1]),
                dz = float(p["position"][2]) - float(player[2]);
    const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (p.value("health", 100.0f) <= 0.0f || d > 25.0f || std::fabs(dz) > 6.0f) continue;
    const bool attacking = p.value("attacking", 0) != 0 && !p.contains("attacking_slot");
    const bool pursuing = p.value("pursuing", false), member = p.value("group", false);
    const bool hostile = attacking || pursuing || holds_player(p, "dislike") || holds_player(p, "hate");
    const bool friendly = !hostile && (member || holds_player(p, "respect") || holds_player(p, "like"));
    expected_ring r;
    if (slot == target) {
      r.scale = 1.25f;
    } else {
      if (!kind_shown(s.kinds, p.value("kind", 4))) continue;
      if (s.only_in_fight && !(attacking || pursuing || member)) continue;
      if (s.after_damage > 0) continue;  // nobody in these scenes is hit
      if (s.fade > 0.0f) r.alpha = static_cast<std::uint32_t>(std::int32_t(255.0f * std::fmin(1.0f, (25.0f - d) / s.fade)));
    }
    if (s.relationship && hostile) r.band = 0xE62828;
    if (s.relationship && friendly) r.band = 0x3C8CFF;
    out[slot] = r;
  }
  return out;
}

std::vector<json> discs_of_trace(const std::vector<json>& trace) {
  std::vector<json> out;
  std::string texture;
  const json* batch = nullptr;
  for (const json& j : trace) {
    if (j["call"] == "RwRenderStateSet" && j["state"] == 1) texture = j["texture"].is_string() ? j["texture"] : "";
    if (j["call"] == "RwIm3DTransform") batch = j["result"] == "ok" ? &j : nullptr;
    if (j["call"] != "RwIm3DRenderIndexedPrimitive" || batch == nullptr || j["result"] != "ok") continue;
    const json& v = (*batch)["vertices"];
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (i == 0 || (float(v[i][4]) == 0.5f && float(v[i][5]) == 0.5f)) starts.push_back(i);
    }
    for (std::size_t k = 0; k < starts.size(); ++k) {
      const std::size_t from = starts[k], to = k + 1 < starts.size() ? starts[k + 1] : v.size();
      json disc = {{"frame", j["frame"]}, {"texture", texture}, {"vertices", json::array()}, {"indices", json::array()}};
      for (std::size_t i = from; i < to; ++i) disc["vertices"].push_back(v[i]);
      const json& ix = j["indices"];
      for (std::size_t t = 0; t + 2 < ix.size(); t += 3) {
        if (ix[t] < from || ix[t] >= to) continue;
        for (std::size_t q = 0; q < 3; ++q) disc["indices"].push_back(std::size_t(ix[t + q]) - from);
      }
      out.push_back(std::move(disc));
    }
    batch = nullptr;
  }
  return out;
}

std::string compare_rings(const json& scene, const std::vector<json>& discs, int frame,
                          const std::map<int, expected_ring>& expected) {
  struct seen {
    int backgrounds = 0;
    float reach = 0.0f;
    std::uint32_t alpha = 0;
    std::vector<std::uint32_t> bands;
  };
  std::map<int, seen> got;
  for (const json& d : discs) {
    if (d["frame"] != frame) continue;
    const json& hub = d["vertices"][0];
    int slot = -1;
    for (const json& p : scene["peds"]) {
      if (float(p["position"][0]) == float(hub[0]) && float(p["position"][1]) == float(hub[1])) slot = p["slot"];
    }
    if (slot < 0) return "a disc under nobody";
    const json& rim = d["vertices"].back();
    const float reach = std::hypot(float(rim[0]) - float(hub[0]), float(rim[1]) - float(hub[1]));
    const std::uint32_t colour = hub[3];
    seen& g = got[slot];
    if (d["texture"] == "hpbg") {
      ++g.backgrounds;
      g.reach = reach;
      g.alpha = colour >> 24;
    } else if (g.reach > 0.0f && reach > 1.5f * g.reach) {  // the band, outside the armour arc
      g.bands.push_back(colour & 0xFFFFFF);
    }
  }
  std::string said;
  const auto say = [&](int slot, const std::string& what) {
    said += "frame " + std::to_string(frame) + " slot " + std::to_string(slot) + ": " + what + "; ";
  };
  for (const auto& [slot, e] : expected) {
    const auto it = got.find(slot);
    if (it == got.end() || it->second.backgrounds != 1) {
      say(slot, "no ring");
      continue;
    }
    const seen& g = it->second;
    if (std::fabs(g.reach - e.scale) > 1e-4f) say(slot, "radius " + std::to_string(g.reach));
    if (g.alpha != e.alpha) say(slot, "alpha " + std::to_string(g.alpha));
    const std::vector<std::uint32_t> bands = e.band ? std::vector<std::uint32_t>{e.band} : std::vector<std::uint32_t>{};
    if (g.bands != bands) say(slot, std::to_string(g.bands.size()) + " bands, the first " + (g.bands.empty() ? std::string("none") : std::to_string(g.bands[0])));
  }
  for (const auto& [slot, g] : got) {
    if (!expected.count(slot)) say(slot, "a ring it should not have");
  }
  return said;
}

json who_scene() {
  const auto ped = [](int slot, float x, float y, int kind) {
    return json{{"slot", slot}, {"position", {x, y, 1}}, {"kind", kind}};
  };
  json peds = json::array();
  json p1 = ped(1, 3, 5, 7);   // Ballas, armed, at the player
  p1["attacking"] = 1002;
  json p2 = ped(2, -4, 6, 6);  // a cop in pursuit
  p2["pursuing"] = true;
  json p3 = ped(3, 6, 2, 9);   // Vagos, who hate the player
  p3["acquaintance"] = {{"hate", {0, 8}}};
  json p4 = ped(4, -2, -3, 8);  // a recruited Grove homie
  p4["group"] = true;
  json p5 = ped(5, -6, 1, 8);   // Grove, who respect the player
  p5["acquaintance"] = {{"respect", {0}}, {"like", {8}}};
  json p6 = ped(6, 2, -5, 8);   // in the group, but dislikes the player: hostile wins
  p6["group"] = true;
  p6["acquaintance"] = {{"dislike", {0}}, {"like", {0}}};
  json p7 = ped(7, 8, 8, 4);    // a bystander, who turns on the player at frame 5
  json p8 = ped(8, 0, 22, 5);   // far, locked on to
  json p9 = ped(9, -8, -6, 18);   // a medic
  json p10 = ped(10, 9, -4, 17);  // a dealer
  json p11 = ped(11, -9, 9, 24);  // a mission character
  json p12 = ped(12, 4, 12, 2);   // another player
  json p13 = ped(13, 7, 7, 14);   // melee, at the bystander
  p13["attacking"] = 1001;
  p13["attacking_slot"] = 7;
  json p14 = ped(14, -3, 11, 20);  // a criminal, killing the player on foot
  p14["attacking"] = 1000;
  for (const json& p : {p1, p2, p3, p4, p5, p6, p7, p8, p9, p10, p11, p12, p13, p14}) peds.push_back(p);
  return {{"player", {{"position", {0, 0, 1}}, {"lock_target", 8}}},
          {"camera_forward", {0, 1}},
          {"peds", peds},
          {"ped_changes", {{{"frame", 5}, {"slot", 7}, {"attacking", 1000}},
                           {{"frame", 8}, {"lock_target", nullptr}, {"aim_target", 3}}}},
          {"events", {"start_up", "draw*10"}}};
}

}  // namespace test
