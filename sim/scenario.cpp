#include "sim/scenario.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "overlay/product_files.h"
#include "file/whole_file.h"
#include "host/host_addresses.h"
#include "overlay/key_names.h"

namespace sim {
namespace {

using nlohmann::json;

struct bad_field {
  std::string message;
};

[[noreturn]] void fail(const std::string& field, const std::string& problem) { throw bad_field{field + ": " + problem}; }

void only_keys(const json& object, const std::string& where, std::initializer_list<const char*> allowed) {
  const std::set<std::string> keys(allowed.begin(), allowed.end());
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (!keys.count(it.key())) fail(where.empty() ? it.key() : where + "." + it.key(), "unknown key");
  }
}

const json& object_at(const json& value, const std::string& field);

// Each object of the list at key, named by its place ("walls[2]"), holding
// only the keys allowed.
template <class Each>
void each_object(const json& root, const char* key, std::initializer_list<const char*> allowed, Each each) {
  if (!root.contains(key)) return;
  const json& list = root[key];
  if (!list.is_array()) fail(key, "expected a list");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string field = std::string(key) + "[" + std::to_string(i) + "]";
    object_at(list[i], field);
    only_keys(list[i], field, allowed);
    each(list[i], field);
  }
}

const json& object_at(const json& value, const std::string& field) {
  if (!value.is_object()) fail(field, "expected an object");
  return value;
}

std::int64_t integer(const json& value, const std::string& field) {
  if (!value.is_number_integer()) fail(field, "expected an integer");
  if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
    fail(field, "the integer is too large");
  }
  return value.get<std::int64_t>();
}

// The game holds these as 32-bit floats: a value that is no finite float there
// (1e300 becomes infinity) is refused rather than passed on.
float number(const json& value, const std::string& field) {
  if (!value.is_number()) fail(field, "expected a number");
  const double wide = value.get<double>();
  const auto narrow = static_cast<float>(wide);
  if (!std::isfinite(wide) || !std::isfinite(narrow)) fail(field, "is no finite 32-bit float");
  return narrow;
}

bool boolean(const json& value, const std::string& field) {
  if (!value.is_boolean()) fail(field, "expected true or false");
  return value.get<bool>();
}

template <std::size_t N>
void numbers(const json& value, const std::string& field, float (&out)[N]) {
  if (!value.is_array() || value.size() != N) fail(field, "expected a list of " + std::to_string(N) + " numbers");
  for (std::size_t i = 0; i < N; ++i) out[i] = number(value[i], field + "[" + std::to_string(i) + "]");
}

vec3 position(const json& value, const std::string& field) {
  float p[3];
  numbers(value, field, p);
  return vec3{p[0], p[1], p[2]};
}

int slot(const json& value, const std::string& field, int pool_size) {
  const std::int64_t s = integer(value, field);
  if (s < 0 || s >= pool_size) fail(field, "slot " + std::to_string(s) + " is outside the pool of " + std::to_string(pool_size));
  return static_cast<int>(s);
}

txd_location location(const json& value, const std::string& field) {
  if (!value.is_string()) fail(field, "expected a string");
  const std::string s = value.get<std::string>();
  if (s == "beside_plugin") return txd_location::beside_plugin;
  if (s == "plugin_models_txd") return txd_location::plugin_models_txd;
  if (s == "modloader") return txd_location::modloader;
  if (s == "game_models_txd") return txd_location::game_models_txd;
  if (s == "none") return txd_location::none;
  fail(field, "'" + s + "' is none of beside_plugin, plugin_models_txd, modloader, game_models_txd, none");
}

scenario_event event(const json& value, const std::string& field) {
  if (!value.is_string()) fail(field, "expected a string");
  const std::string s = value.get<std::string>();
  if (s == "start_up") return {event_kind::start_up, 1};
  if (s == "shutdown") return {event_kind::shutdown, 1};
  if (s == "draw") return {event_kind::draw, 1};
  if (s == "hold_log") return {event_kind::hold_log, 1};
  if (s == "release_log") return {event_kind::release_log, 1};
  if (s.rfind("draw*", 0) == 0 && s.size() > 5 && s.size() <= 14 &&
      s.find_first_not_of("0123456789", 5) == std::string::npos) {
    const unsigned long long n = std::stoull(s.substr(5));
    if (n >= 1 && n <= 100000000ull) return {event_kind::draw, static_cast<std::uint32_t>(n)};
  }
  fail(field, "'" + s + "' is none of start_up, draw, draw*N (N from 1 to 100000000), shutdown, hold_log, release_log");
}

host_address site_named(const json& value, const std::string& field) {
  if (!value.is_string()) fail(field, "expected a string");
  const std::string name = value.get<std::string>();
  for (host_address s : host::addr::event_sites) {
    if (name == site_name(s)) return s;
  }
  fail(field, "'" + name + "' is none of start_up, drawing, shutdown");
}

foreign_patch_setup foreign_patch(const json& value, const std::string& field) {
  object_at(value, field);
  only_keys(value, field, {"site", "form"});
  if (!value.contains("site")) fail(field + ".site", "missing");
  if (!value.contains("form")) fail(field + ".form", "missing");
  if (!value["site"].is_string()) fail(field + ".site", "expected a string");
  if (!value["form"].is_string()) fail(field + ".form", "expected a string");
  foreign_patch_setup p{};
  p.site = site_named(value["site"], field + ".site");
  const std::string form = value["form"].get<std::string>();
  if (!foreign_form_named(form, &p.form)) {
    fail(field + ".form", "'" + form + "' is none of call, jmp, call_indirect, jmp_indirect");
  }
  return p;
}

// A list of the game's pedestrian kinds (0 to 31) as bits.
std::uint32_t kind_mask(const json& value, const std::string& field) {
  if (!value.is_array()) fail(field, "expected a list of kinds from 0 to 31");
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::int64_t k = integer(value[i], field + "[" + std::to_string(i) + "]");
    if (k < 0 || k > 31) fail(field + "[" + std::to_string(i) + "]", "expected a kind from 0 to 31");
    mask |= 1u << k;
  }
  return mask;
}

std::uint32_t kind(const json& value, const std::string& field) {
  const std::int64_t k = integer(value, field);
  if (k < 0 || k > 31) fail(field, "expected a kind from 0 to 31");
  return static_cast<std::uint32_t>(k);
}

std::array<std::uint32_t, 4> acquaintance(const json& value, const std::string& field) {
  object_at(value, field);
  only_keys(value, field, {"respect", "like", "dislike", "hate"});
  std::array<std::uint32_t, 4> masks{};
  const char* names[4] = {"respect", "like", "dislike", "hate"};
  for (int i = 0; i < 4; ++i) {
    if (value.contains(names[i])) masks[static_cast<std::size_t>(i)] = kind_mask(value[names[i]], field + "." + names[i]);
  }
  return masks;
}

std::int32_t attacking(const json& value, const std::string& field) {
  const std::int64_t t = integer(value, field);
  if (t != 0 && t != 1000 && t != 1001 && t != 1002) fail(field, "expected 0 (none), 1000, 1001 or 1002");
  return static_cast<std::int32_t>(t);
}

// A slot, or null for none (-1).
int slot_or_none(const json& value, const std::string& field, int pool_size) {
  if (value.is_null()) return -1;
  const std::int64_t s = integer(value, field);
  if (s < 0 || s >= pool_size) fail(field, "slot " + std::to_string(s) + " is outside the pool of " + std::to_string(pool_size));
  return static_cast<int>(s);
}

ped_setup pedestrian(const json& value, const std::string& field, int pool_size) {
  object_at(value, field);
  only_keys(value, field, {"slot", "position", "health", "max_health", "armour", "in_vehicle", "visible", "area",
                           "use_matrix", "reject_transform", "velocity", "kind", "acquaintance", "attacking",
                           "attacking_slot", "group", "pursuing"});
  if (!value.contains("slot")) fail(field + ".slot", "missing");
  if (!value.contains("position")) fail(field + ".position", "missing");
  ped_setup p;
  p.slot = slot(value["slot"], field + ".slot", pool_size);
  p.position = position(value["position"], field + ".position");
  if (value.contains("health")) p.health = number(value["health"], field + ".health");
  if (value.contains("max_health")) p.max_health = number(value["max_health"], field + ".max_health");
  if (value.contains("armour")) p.armour = number(value["armour"], field + ".armour");
  if (value.contains("in_vehicle")) p.in_vehicle = boolean(value["in_vehicle"], field + ".in_vehicle");
  if (value.contains("visible")) p.visible = boolean(value["visible"], field + ".visible");
  if (value.contains("area")) {
    const std::int64_t a = integer(value["area"], field + ".area");
    if (a < 0 || a > 255) fail(field + ".area", "expected 0 to 255");
    p.area = static_cast<std::uint8_t>(a);
  }
  if (value.contains("use_matrix")) p.use_matrix = boolean(value["use_matrix"], field + ".use_matrix");
  if (value.contains("reject_transform")) p.reject_transform = boolean(value["reject_transform"], field + ".reject_transform");
  if (value.contains("velocity")) numbers(value["velocity"], field + ".velocity", p.velocity);
  if (value.contains("kind")) p.kind = kind(value["kind"], field + ".kind");
  if (value.contains("acquaintance")) {
    const std::array<std::uint32_t, 4> a = acquaintance(value["acquaintance"], field + ".acquaintance");
    p.respect = a[0];
    p.like = a[1];
    p.dislike = a[2];
    p.hate = a[3];
  }
  if (value.contains("attacking")) p.attacking = attacking(value["attacking"], field + ".attacking");
  if (value.contains("attacking_slot")) p.attacking_slot = slot(value["attacking_slot"], field + ".attacking_slot", pool_size);
  if (value.contains("group")) p.group = boolean(value["group"], field + ".group");
  if (value.contains("pursuing")) p.pursuing = boolean(value["pursuing"], field + ".pursuing");
  return p;
}

scenario interpret(const json& root) {
  object_at(root, "scenario");
  only_keys(root, "", {"game_version", "area", "camera_forward", "player", "txd", "pool_size", "peds", "events", "trace", "second_plugin",
                         "foreign_patches", "ini", "key_presses", "plugin_name", "walls", "camera_position",
                         "camera_target", "view", "refuse_restore", "health_changes", "respawn", "clock", "hud", "ground", "ped_changes", "modules"});
  scenario s;
  if (root.contains("game_version")) {
    const std::int64_t v = integer(root["game_version"], "game_version");
    static const std::set<std::int64_t> ids = {0, 1001, 1002, 1011, 1101, 1111, 3200, 3210};
    if (!ids.count(v)) fail("game_version", std::to_string(v) + " is none of 0, 1001, 1002, 1011, 1101, 1111, 3200, 3210");
    s.game_version = static_cast<std::uint32_t>(v);
  }
  if (root.contains("area")) {
    const std::int64_t a = integer(root["area"], "area");
    if (a < INT32_MIN || a > INT32_MAX) fail("area", "outside 32 bits");
    s.area = static_cast<std::int32_t>(a);
  }
  if (root.contains("camera_forward")) numbers(root["camera_forward"], "camera_forward", s.camera_forward);
  if (root.contains("pool_size")) {
    const std::int64_t n = integer(root["pool_size"], "pool_size");
    if (n < 0 || n > 10000) fail("pool_size", "expected 0 to 10000");
    s.pool_size = static_cast<int>(n);
  }
  if (root.contains("player")) {
    const json& p = root["player"];
    if (p.is_null()) {
      s.player.reset();
    } else {
      object_at(p, "player");
      only_keys(p, "player", {"slot", "position", "use_matrix", "lock_target", "aim_target"});
      scenario_player player;
      if (p.contains("slot")) player.slot = slot(p["slot"], "player.slot", s.pool_size);
      if (p.contains("position")) player.position = position(p["position"], "player.position");
      if (p.contains("use_matrix")) player.use_matrix = boolean(p["use_matrix"], "player.use_matrix");
      if (p.contains("lock_target")) player.lock_target = slot_or_none(p["lock_target"], "player.lock_target", s.pool_size);
      if (p.contains("aim_target")) player.aim_target = slot_or_none(p["aim_target"], "player.aim_target", s.pool_size);
      s.player = player;
    }
  }
  if (s.player && s.player->slot >= s.pool_size) {
    if (root.contains("player")) fail("player.slot", "outside the pool of " + std::to_string(s.pool_size));
    fail("pool_size", std::to_string(s.pool_size) + " slots leave no room for the player in slot 0 (\"player\": null for none)");
  }
  if (root.contains("txd")) s.txd = location(root["txd"], "txd");
  if (root.contains("peds")) {
    const json& peds = root["peds"];
    if (!peds.is_array()) fail("peds", "expected a list");
    std::set<int> used;
    if (s.player) used.insert(s.player->slot);
    for (std::size_t i = 0; i < peds.size(); ++i) {
      const std::string field = "peds[" + std::to_string(i) + "]";
      ped_setup p = pedestrian(peds[i], field, s.pool_size);
      if (!used.insert(p.slot).second) fail(field + ".slot", "slot " + std::to_string(p.slot) + " is taken");
      s.peds.push_back(p);
    }
  }
  if (root.contains("events")) {
    const json& events = root["events"];
    if (!events.is_array()) fail("events", "expected a list");
    s.events.clear();
    for (std::size_t i = 0; i < events.size(); ++i) s.events.push_back(event(events[i], "events[" + std::to_string(i) + "]"));
  }
  if (root.contains("trace")) s.trace = boolean(root["trace"], "trace");
  if (root.contains("second_plugin")) {
    const json& second = root["second_plugin"];
    if (second.is_object()) {
      only_keys(second, "second_plugin", {"folder", "unloaded"});
      s.second_plugin = true;
      const auto choice = [&](const char* key, const char* a, const char* b) {
        if (!second.contains(key)) return false;
        const std::string field = std::string("second_plugin.") + key;
        if (!second[key].is_string()) fail(field, "expected a string");
        const std::string value = second[key].get<std::string>();
        if (value != a && value != b) fail(field, "'" + value + "' is neither " + a + " nor " + b);
        return value == b;
      };
      s.second_plugin_elsewhere = choice("folder", "same", "other");
      s.second_plugin_unloaded_last = choice("unloaded", "first", "last");
    } else {
      s.second_plugin = boolean(second, "second_plugin");
    }
  }
  if (root.contains("camera_position")) s.camera_position = position(root["camera_position"], "camera_position");
  if (root.contains("camera_target")) s.camera_target = position(root["camera_target"], "camera_target");
  if (root.contains("view")) s.view = boolean(root["view"], "view");
  each_object(root, "walls", {"min", "max"}, [&](const json& j, const std::string& field) {
    if (!j.contains("min")) fail(field + ".min", "missing");
    if (!j.contains("max")) fail(field + ".max", "missing");
    wall w{position(j["min"], field + ".min"), position(j["max"], field + ".max")};
    if (!(w.min.x < w.max.x && w.min.y < w.max.y && w.min.z < w.max.z)) fail(field, "min must lie below max on every axis");
    s.walls.push_back(w);
  });
  each_object(root, "ground", {"min", "max", "z", "slope", "frames", "vehicle", "box"}, [&](const json& j, const std::string& field) {
    for (const char* key : {"min", "max", "z"}) {
      if (!j.contains(key)) fail(field + "." + key, "missing");
    }
    ground_piece g;
    numbers(j["min"], field + ".min", g.min);
    numbers(j["max"], field + ".max", g.max);
    g.z = number(j["z"], field + ".z");
    if (j.contains("slope")) numbers(j["slope"], field + ".slope", g.slope);
    if (j.contains("frames")) {
      const json& f = j["frames"];
      if (!f.is_array() || f.size() != 2) fail(field + ".frames", "expected [first, last]");
      const std::int64_t first = integer(f[0], field + ".frames[0]"), last = integer(f[1], field + ".frames[1]");
      if (first < 1 || last > INT32_MAX || first > last) fail(field + ".frames", "expected 1 <= first <= last");
      g.frames[0] = static_cast<std::int32_t>(first);
      g.frames[1] = static_cast<std::int32_t>(last);
    }
    if (j.contains("vehicle")) g.vehicle = boolean(j["vehicle"], field + ".vehicle");
    if (j.contains("box")) g.box = boolean(j["box"], field + ".box");
    if (!(g.min[0] < g.max[0] && g.min[1] < g.max[1])) fail(field, "min must lie below max on both axes");
    s.ground.push_back(g);
  });
  if (root.contains("plugin_name")) {
    if (!root["plugin_name"].is_string()) fail("plugin_name", "expected a file name");
    s.plugin_name = root["plugin_name"].get<std::string>();
    const std::string& n = s.plugin_name;
    if (n.empty() || n.size() > 100 || n.find_first_of("/\\:*?\"<>|") != std::string::npos || n == "." || n == "..") {
      fail("plugin_name", "expected a plain file name of at most 100 bytes");
    }
  }
  std::uint64_t draws = 0;
  for (const scenario_event& e : s.events) draws += e.kind == event_kind::draw ? e.repeat : 0;
  if (s.trace && draws > max_traced_draws) {
    fail("events", std::to_string(draws) + " drawing events with the trace on would write gigabytes; at most " +
                       std::to_string(max_traced_draws) + ", or set \"trace\": false");
  }
  if (root.contains("ini")) {
    if (!root["ini"].is_string()) fail("ini", "expected a string (the file's text)");
    s.ini = root["ini"].get<std::string>();
  }
  // A drawing event a key press or a change stands before: the game counts
  // its frames in 32 bits.
  const std::int64_t last = std::min<std::int64_t>(static_cast<std::int64_t>(draws), INT32_MAX);
  const auto frame_of = [&](const json& j, const std::string& field) {
    if (!j.contains("frame")) fail(field + ".frame", "missing");
    const std::int64_t frame = integer(j["frame"], field + ".frame");
    if (frame < 1 || frame > last) fail(field + ".frame", "expected a drawing event from 1 to " + std::to_string(last));
    return static_cast<std::int32_t>(frame);
  };
  each_object(root, "key_presses", {"frame", "key", "frames"}, [&](const json& j, const std::string& field) {
    if (!j.contains("frame")) fail(field + ".frame", "missing");
    if (!j.contains("key")) fail(field + ".key", "missing");
    const std::int64_t frame = frame_of(j, field);
    if (!j["key"].is_string()) fail(field + ".key", "expected a key name");
    const std::string name = j["key"].get<std::string>();
    const std::optional<int> key = overlay::key_code(name);
    if (!key) fail(field + ".key", "'" + name + "' is no key name (F1-F12, A-Z, 0-9, NumPad0-9, Insert, ..., or 0x01-0xFE)");
    std::int64_t held = 1;
    if (j.contains("frames")) {
      held = integer(j["frames"], field + ".frames");
      const std::int64_t room = last - frame + 1;  // no sum that could overflow
      if (held < 1 || held > room) fail(field + ".frames", "expected 1 to " + std::to_string(room));
    }
    s.key_presses.push_back({static_cast<std::int32_t>(frame), *key, static_cast<std::int32_t>(held)});
  });
  each_object(root, "hud", {"frame", "widescreen", "display_hud", "menu_hud", "replay", "photo", "cinematic", "cutscene"},
              [&](const json& j, const std::string& field) {
                hud_change c;
                c.frame = frame_of(j, field);
                for (std::size_t k = 0; k < std::size(hud_fields); ++k) {
                  if (j.contains(hud_fields[k])) c.fields[k] = boolean(j[hud_fields[k]], field + "." + hud_fields[k]);
                }
                s.hud.push_back(c);
              });
  // Changes before a drawing event, by frame, and the game's clock.
  const auto change = [&](bool respawn) {
    return [&s, &frame_of, respawn](const json& j, const std::string& field) {
      ped_change c{frame_of(j, field), 0, std::nullopt, std::nullopt, respawn};
      if (!j.contains("slot")) fail(field + ".slot", "missing");
      c.slot = slot(j["slot"], field + ".slot", s.pool_size);
      if (j.contains("health")) c.health = number(j["health"], field + ".health");
      if (j.contains("armour")) c.armour = number(j["armour"], field + ".armour");
      if (!respawn && !c.health && !c.armour) fail(field, "expected health, armour or both");
      s.changes.push_back(c);
    };
  };
  each_object(root, "health_changes", {"frame", "slot", "health", "armour"}, change(false));
  each_object(root, "ped_changes",
              {"frame", "slot", "kind", "acquaintance", "attacking", "attacking_slot", "group", "pursuing", "lock_target",
               "aim_target"},
              [&](const json& j, const std::string& field) {
                who_change c;
                c.frame = frame_of(j, field);
                const bool player = !j.contains("slot");
                for (const char* key : {"kind", "acquaintance", "attacking", "attacking_slot", "group", "pursuing"}) {
                  if (player && j.contains(key)) fail(field + "." + key, "a pedestrian's key needs its slot");
                }
                for (const char* key : {"lock_target", "aim_target"}) {
                  if (!player && j.contains(key)) fail(field + "." + key, "the player's key goes without a slot");
                }
                if (!player) c.slot = slot(j["slot"], field + ".slot", s.pool_size);
                if (j.contains("kind")) c.kind = kind(j["kind"], field + ".kind");
                if (j.contains("acquaintance")) c.acquaintance = acquaintance(j["acquaintance"], field + ".acquaintance");
                if (j.contains("attacking")) c.attacking = attacking(j["attacking"], field + ".attacking");
                if (j.contains("attacking_slot")) c.attacking_slot = slot(j["attacking_slot"], field + ".attacking_slot", s.pool_size);
                if (j.contains("group")) c.group = boolean(j["group"], field + ".group");
                if (j.contains("pursuing")) c.pursuing = boolean(j["pursuing"], field + ".pursuing");
                if (j.contains("lock_target")) c.lock_target = slot_or_none(j["lock_target"], field + ".lock_target", s.pool_size);
                if (j.contains("aim_target")) c.aim_target = slot_or_none(j["aim_target"], field + ".aim_target", s.pool_size);
                s.ped_changes.push_back(c);
              });
  // The player's group holds at most seven besides its leader, the wanted
  // record ten police: so at every frame, changes included.
  {
    std::set<int> group, pursuing;
    for (const ped_setup& p : s.peds) {
      if (p.group) group.insert(p.slot);
      if (p.pursuing) pursuing.insert(p.slot);
    }
    const auto check = [&](const std::string& field) {
      if (group.size() > 7) fail(field, "more than seven in the player's group");
      if (pursuing.size() > 10) fail(field, "more than ten police in pursuit");
    };
    check("peds");
    std::vector<std::size_t> order(s.ped_changes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return s.ped_changes[a].frame < s.ped_changes[b].frame; });
    for (std::size_t i : order) {
      const who_change& c = s.ped_changes[i];
      if (c.group) *c.group ? (void)group.insert(c.slot) : (void)group.erase(c.slot);
      if (c.pursuing) *c.pursuing ? (void)pursuing.insert(c.slot) : (void)pursuing.erase(c.slot);
      check("ped_changes[" + std::to_string(i) + "]");
    }
  }
  each_object(root, "modules", {"frame", "name"}, [&](const json& j, const std::string& field) {
    module_load m;
    m.frame = frame_of(j, field);
    if (!j.contains("name") || !j["name"].is_string()) fail(field + ".name", "expected a module's file name");
    m.name = j["name"].get<std::string>();
    if (m.name.empty() || m.name.size() > 64 || m.name.find_first_of("/\\:*?\"<>|") != std::string::npos || m.name == "." ||
        m.name == "..") {
      fail(field + ".name", "expected a plain file name of at most 64 bytes");
    }
    s.modules.push_back(m);
  });
  each_object(root, "respawn", {"frame", "slot"}, change(true));
  std::stable_sort(s.changes.begin(), s.changes.end(), [](const ped_change& a, const ped_change& b) { return a.frame < b.frame; });
  if (root.contains("clock")) {
    const json& c = root["clock"];
    object_at(c, "clock");
    only_keys(c, "clock", {"start_ms", "ms_per_frame", "paused"});
    const auto ms = [&](const char* key) {
      const std::string field = std::string("clock.") + key;
      const std::int64_t v = integer(c[key], field);
      if (v < 0 || v > 0xFFFFFFFFll) fail(field, "expected 0 to 4294967295");
      return static_cast<std::uint32_t>(v);
    };
    if (c.contains("start_ms")) s.clock.start_ms = ms("start_ms");
    if (c.contains("ms_per_frame")) s.clock.ms_per_frame = ms("ms_per_frame");
    if (c.contains("paused")) {
      if (!c["paused"].is_array()) fail("clock.paused", "expected a list of [first_frame, last_frame]");
      for (std::size_t i = 0; i < c["paused"].size(); ++i) {
        const std::string field = "clock.paused[" + std::to_string(i) + "]";
        const json& range = c["paused"][i];
        if (!range.is_array() || range.size() != 2) fail(field, "expected [first_frame, last_frame]");
        const std::int64_t first = integer(range[0], field), last = integer(range[1], field);
        if (first < 1 || last < first || last > INT32_MAX) fail(field, "expected 1 <= first_frame <= last_frame");
        if (!s.clock.paused.empty() && first <= s.clock.paused.back().second) {
          fail(field, "the ranges must follow one another without overlapping");
        }
        s.clock.paused.emplace_back(static_cast<std::int32_t>(first), static_cast<std::int32_t>(last));
      }
    }
  }
  if (root.contains("refuse_restore")) {
    const json& r = root["refuse_restore"];
    object_at(r, "refuse_restore");
    only_keys(r, "refuse_restore", {"site", "draws_after"});
    if (!r.contains("site")) fail("refuse_restore.site", "missing");
    s.refuse_restore = site_named(r["site"], "refuse_restore.site");
    if (r.contains("draws_after")) {
      const std::int64_t n = integer(r["draws_after"], "refuse_restore.draws_after");
      if (n < 0 || n > 10000) fail("refuse_restore.draws_after", "expected 0 to 10000");
      s.draws_after_unload = static_cast<std::uint32_t>(n);
    }
  }
  if (root.contains("foreign_patches")) {
    const json& patches = root["foreign_patches"];
    if (!patches.is_array()) fail("foreign_patches", "expected a list");
    for (std::size_t i = 0; i < patches.size(); ++i) {
      const std::string field = "foreign_patches[" + std::to_string(i) + "]";
      const foreign_patch_setup p = foreign_patch(patches[i], field);
      for (const foreign_patch_setup& earlier : s.foreign_patches) {
        if (earlier.site == p.site) fail(field + ".site", std::string(site_name(p.site)) + " is patched already");
      }
      s.foreign_patches.push_back(p);
    }
  }
  return s;
}

}  // namespace

scenario_result parse_scenario(const std::string& json_text) {
  scenario_result r;
  json root;
  // One set of keys per object being read, to refuse a key given twice
  // (the parser would keep the last and lose the first silently).
  std::vector<std::set<std::string>> keys;
  std::vector<std::string> at_key;  // the key being read in each open object
  std::string repeated;
  const json::parser_callback_t note_keys = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) {
      keys.emplace_back();
      at_key.emplace_back();
    }
    if (event == json::parse_event_t::object_end && !keys.empty()) {
      keys.pop_back();
      at_key.pop_back();
    }
    if (event == json::parse_event_t::key && !keys.empty()) {
      at_key.back() = parsed.get<std::string>();
      if (!keys.back().insert(at_key.back()).second && repeated.empty()) repeated = at_key.back();
    }
    return true;
  };
  try {
    root = json::parse(json_text, note_keys);
  } catch (const json::parse_error& e) {
    r.error = std::string("scenario: not JSON: ") + e.what();
    return r;
  } catch (const json::exception& e) {
    // A number the reader cannot hold (1e400): named by the key it stands at.
    std::string field;
    for (const std::string& k : at_key) field += (field.empty() ? "" : ".") + k;
    r.error = (field.empty() ? std::string("scenario") : field) + ": a number the reader cannot hold (" + e.what() + ")";
    return r;
  }
  if (!repeated.empty()) {
    r.error = repeated + ": the key is given twice in one object";
    return r;
  }
  try {
    r.value = interpret(root);
    r.ok = true;
  } catch (const bad_field& b) {
    r.error = b.message;
  }
  return r;
}

scenario_result read_scenario(const std::filesystem::path& path) {
  const file::whole_file f = file::read_whole(path);
  if (!f.ok) {
    scenario_result r;
    const std::u8string name = path.u8string();
    r.error = "scenario: cannot open " + std::string(name.begin(), name.end());
    return r;
  }
  return parse_scenario(f.text());
}

std::uint32_t game_clock::at(std::int32_t frame) const {
  // Frames 2 to frame advance it, but those that lie in a paused range.
  std::uint64_t advancing = frame > 1 ? static_cast<std::uint64_t>(frame - 1) : 0;
  for (const auto& [from, to] : paused) {  // in order, not overlapping
    const std::int64_t first = std::max<std::int64_t>(from, 2), last = std::min<std::int64_t>(to, frame);
    if (first <= last) advancing -= static_cast<std::uint64_t>(last - first + 1);
  }
  return static_cast<std::uint32_t>(start_ms + advancing * ms_per_frame);
}

const char* site_name(host_address site) {
  if (site == host::addr::start_up_site) return "start_up";
  if (site == host::addr::drawing_site) return "drawing";
  if (site == host::addr::shutdown_site) return "shutdown";
  return "";
}

std::string txd_relative_path(txd_location where) {
  std::string path;
  switch (where) {
    case txd_location::beside_plugin: path = std::string("scripts\\") + overlay::dictionary_beside_plugin[0]; break;
    case txd_location::plugin_models_txd: path = std::string("scripts\\") + overlay::dictionary_beside_plugin[1]; break;
    case txd_location::modloader: path = overlay::dictionary_relative_to_game[0]; break;
    case txd_location::game_models_txd: path = overlay::dictionary_relative_to_game[1]; break;
    case txd_location::none: break;
  }
  for (char& c : path) c = c == '\\' ? '/' : c;
  return path;
}

}  // namespace sim
