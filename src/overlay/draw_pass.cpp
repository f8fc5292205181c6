#include "overlay/draw_pass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

#include "host/host_services.h"
#include "overlay/diagnostic_log.h"
#include "overlay/plugin_state.h"
#include "overlay/ring_decal.h"
#include "overlay/ring_fan.h"
#include "overlay/ring_textures.h"
#include "platform/os.h"

namespace overlay {
namespace {

struct render_state_value {
  std::int32_t state;
  std::uint32_t value;
};

constexpr render_state_value ring_render_states[] = {
    {host::rwRENDERSTATEVERTEXALPHAENABLE, 1},
    {host::rwRENDERSTATESRCBLEND, host::rwBLENDSRCALPHA},
    {host::rwRENDERSTATEDESTBLEND, host::rwBLENDINVSRCALPHA},
    {host::rwRENDERSTATEZTESTENABLE, 1},
    {host::rwRENDERSTATEZWRITEENABLE, 0},
    {host::rwRENDERSTATETEXTUREFILTER, host::rwFILTERLINEAR},
    {host::rwRENDERSTATECULLMODE, host::rwCULLMODECULLNONE},
};

// The states the pass changes, as the game had set them before its drawing
// site: the HUD drawn after the site, and any mod after the plugin, expect
// them back.
struct game_states {
  std::uintptr_t value[std::size(ring_render_states) + 1] = {};
  bool known[std::size(ring_render_states) + 1] = {};
};

std::int32_t changed_state(std::size_t i) {
  return i < std::size(ring_render_states) ? ring_render_states[i].state : host::rwRENDERSTATETEXTURERASTER;
}

game_states read_game_states() {
  game_states g;
  for (std::size_t i = 0; i < std::size(g.value); ++i) g.known[i] = host::RwRenderStateGet(changed_state(i), &g.value[i]);
  return g;
}

void give_back(const game_states& g) {
  for (std::size_t i = 0; i < std::size(g.value); ++i) {
    if (g.known[i]) host::RwRenderStateSet(changed_state(i), g.value[i]);
  }
}

// The camera's heading in the ground plane, or false when it has no matrix.
bool camera_heading(float* heading) {
  const std::uint8_t* camera = host::host_camera();
  const std::uint8_t* matrix = nullptr;
  std::memcpy(&matrix, camera + host::camera_matrix, sizeof matrix);
  if (matrix == nullptr) return false;
  float forward_x = 0.0f;
  float forward_y = 0.0f;
  std::memcpy(&forward_x, matrix + host::matrix::forward_x, sizeof forward_x);
  std::memcpy(&forward_y, matrix + host::matrix::forward_y, sizeof forward_y);
  *heading = static_cast<float>(std::atan2(static_cast<double>(forward_y), static_cast<double>(forward_x)));
  return true;
}

template <class T>
T field(const std::uint8_t* object, std::uint32_t offset) {
  T value;
  std::memcpy(&value, object + offset, sizeof value);
  return value;
}

struct position {
  float x, y, z;
};

position position_of(const std::uint8_t* entity) {
  const auto* matrix = field<const std::uint8_t*>(entity, host::ped::matrix);
  return field<position>(matrix ? matrix : entity, matrix ? host::matrix::position : host::ped::position);
}

float clamped_fraction(const std::uint8_t* ped, float health) {
  const float max_health = field<float>(ped, host::ped::max_health);
  const float m = max_health > 1.0f ? max_health : 100.0f;
  float f = health / m;
  if (f > 1.0f) {
    f = 1.0f;
  } else if (f < 0.0f) {
    f = 0.0f;
  }
  return f;
}

std::uint32_t with_alpha(const std::uint8_t* rgb, std::uint32_t alpha) {
  return (alpha << 24) + rgb[0] * 0x10000u + rgb[1] * 0x100u + rgb[2];
}

// Each occupied slot's pedestrian but the player's, with its slot.
template <class Each>
void for_each_pedestrian(const host::ped_pool& pool, const std::uint8_t* player, Each each) {
  for (std::int32_t i = 0; i < pool.size; ++i) {
    if (pool.status[i] < 0) continue;  // free slot
    const std::uint8_t* ped = pool.slots + static_cast<std::uint32_t>(i) * host::ped_slot_size;
    if (ped == nullptr || ped == player) continue;
    each(i, ped);
  }
}

slot_memory& remember_slot(plugin_state& s, const host::ped_pool& pool, std::int32_t i, const std::uint8_t* ped,
                           std::uint32_t now) {
  slot_memory& memory = s.damage.at(i);
  const float health = field<float>(ped, host::ped::health);
  remember(memory, static_cast<std::uint8_t>(pool.status[i]), health, clamped_fraction(ped, health), now);
  return memory;
}

// What the frame needs, read once.
struct frame_view {
  const host::ped_pool* pool = nullptr;
  const std::uint8_t* player = nullptr;
  position player_at{};
  float heading = 0.0f;
  std::uint32_t now = 0;
  bool follows = false;
  float reach = 1.0f;  // of the widest fan
  // Who is who: read, and only then set, when a setting asks.
  const std::uint8_t* group[host::group_member_count];  // the player's group, nulls allowed
  const std::uint8_t* cops[host::wanted_cop_count];     // the police after the player
  const std::uint8_t* target;                           // the player's target, or null
};

template <class T, std::size_t N>
bool holds(const T (&list)[N], const std::uint8_t* ped) {
  for (const T& p : list) {
    if (p == ped) return true;
  }
  return false;
}

// A pedestrian of the pool's occupied slots, or null: the player's target
// may be any entity.
const std::uint8_t* pool_pedestrian(const host::ped_pool& pool, const std::uint8_t* entity) {
  const auto at = reinterpret_cast<std::uintptr_t>(entity), first = reinterpret_cast<std::uintptr_t>(pool.slots);
  if (entity == nullptr || at < first) return nullptr;
  const std::uintptr_t offset = at - first;
  if (offset % host::ped_slot_size != 0 || offset / host::ped_slot_size >= static_cast<std::uint32_t>(pool.size)) return nullptr;
  return pool.status[offset / host::ped_slot_size] < 0 ? nullptr : entity;
}

// The player's group, the police after the player and its target, as the
// settings need them.
void read_who(const ring_settings& settings, frame_view& f) {
  std::memset(f.group, 0, sizeof f.group);
  std::memset(f.cops, 0, sizeof f.cops);
  f.target = nullptr;
  if (settings.show_relationship || settings.only_in_fight) {
    const auto* data = field<const std::uint8_t*>(f.player, host::ped::player_data);
    const std::uint32_t number = data ? field<std::uint32_t>(data, host::player_data_group) : 0xFFFFFFFFu;
    if (number < 8) {
      const std::uint8_t* group = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(host::addr::ped_groups)) +
                                  number * host::ped_group_size;
      std::memcpy(f.group, group + host::group_members, sizeof f.group);
    }
    const auto* wanted = *reinterpret_cast<const std::uint8_t* const*>(static_cast<std::uintptr_t>(host::addr::player_wanted));
    // The count is only a quick test for none: the list is what counts.
    if (wanted != nullptr && wanted[host::wanted_cops_in_pursuit] != 0) std::memcpy(f.cops, wanted + host::wanted_cops, sizeof f.cops);
  }
  if (settings.mark_target) {
    f.target = pool_pedestrian(*f.pool, field<const std::uint8_t*>(f.player, host::ped::lock_target));
    if (f.target == nullptr) f.target = pool_pedestrian(*f.pool, field<const std::uint8_t*>(f.player, host::ped::aim_target));
  }
}

struct standing {
  bool hostile = false;
  bool friendly = false;
  bool in_fight = false;  // attacking the player, police after it, or of its group
};

standing standing_of(const std::uint8_t* ped, const frame_view& f) {
  standing st;
  bool attacking = false;
  if (const auto* intelligence = field<const std::uint8_t*>(ped, host::ped::intelligence)) {
    const std::uint8_t* tasks = intelligence + host::intelligence_task_manager;
    for (const host::attack_task& a : host::attack_tasks) {
      const std::uint8_t* task = host::host_find_active_task(tasks, a.type);
      if (task != nullptr && field<const std::uint8_t*>(task, a.target) == f.player) {
        attacking = true;
        break;
      }
    }
  }
  const bool pursuing = holds(f.cops, ped), member = holds(f.group, ped);
  const std::uint32_t player_kind = 1u << host::kind_player;
  const std::uint8_t* record = ped + host::ped::acquaintance;
  const bool hates = ((field<std::uint32_t>(record, host::acquaintance::dislike) |
                       field<std::uint32_t>(record, host::acquaintance::hate)) & player_kind) != 0;
  const bool likes = ((field<std::uint32_t>(record, host::acquaintance::respect) |
                       field<std::uint32_t>(record, host::acquaintance::like)) & player_kind) != 0;
  st.hostile = attacking || pursuing || hates;
  st.friendly = !st.hostile && (member || likes);
  st.in_fight = attacking || pursuing || member;
  return st;
}

// Whether a pedestrian gets a ring at all, before the overlays: alive, on
// foot, visible, in the area shown, within range of the player.
bool qualifies(const std::uint8_t* ped, const ring_settings& settings, const frame_view& f, position* at,
               float* distance) {
  if (!(field<float>(ped, host::ped::health) > 0.0f)) return false;
  if (ped[host::ped::ped_flags] & 0x01) return false;  // in a vehicle
  if (!(ped[host::ped::entity_flags] & 0x80)) return false;  // not visible
  // The game renders an entity of area 13 in every area.
  const std::int32_t area = ped[host::ped::area];
  if (area != host::everywhere_area && area != host::host_current_area()) return false;
  *at = position_of(ped);
  const float dx = at->x - f.player_at.x;
  const float dy = at->y - f.player_at.y;
  const float dz = at->z - f.player_at.z;
  const float s = (dy * dy + dx * dx) + dz * dz;
  *distance = static_cast<float>(std::sqrt(static_cast<double>(s)));
  // Written so that a position holding NaN fails them.
  return *distance <= settings.range && std::fabs(dz) <= settings.height_range;
}

// The alpha of every fan of a pedestrian under the fade and the rings after
// damage; 0 when it gets no ring.
std::uint32_t ring_alpha(const ring_settings& settings, float distance, const slot_memory& memory,
                         std::uint32_t now_ms) {
  float weight = 1.0f;
  if (settings.fade_distance > 0.0f) {
    weight = (settings.range - distance) / settings.fade_distance;
    if (weight > 1.0f) weight = 1.0f;
    if (weight < 0.0f) weight = 0.0f;
  }
  if (settings.show_after_damage > 0) {
    const std::uint32_t shown_ms = static_cast<std::uint32_t>(settings.show_after_damage) * 1000u;
    const std::uint32_t since = now_ms - memory.fall_ms;
    if (!memory.fell || since >= shown_ms) return 0;
    const std::uint32_t left = shown_ms - since;
    if (left < fade_out_ms) weight = weight * (static_cast<float>(left) / static_cast<float>(fade_out_ms));
  }
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<float>(settings.opacity) * weight));
}

// One walk of the pool: every occupied slot's damage followed, ringed or not
// (a pedestrian hit out of range has its fall counted all the same), and a
// plan for each pedestrian that gets a ring.
void plan_rings(plugin_state& s, const frame_view& f) {
  const ring_settings& settings = s.settings;
  const host::ped_pool& pool = *f.pool;
  if (f.follows) s.damage.fit(pool.size);
  s.ground.fit(pool.size, f.reach);
  if (s.plans.capacity() < static_cast<std::size_t>(pool.size)) {
    s.plans.reserve(static_cast<std::size_t>(pool.size));
    s.ground_order.reserve(static_cast<std::size_t>(pool.size));
  }
  s.plans.clear();
  static const slot_memory nothing{};
  for_each_pedestrian(pool, f.player, [&](std::int32_t i, const std::uint8_t* ped) {
    const slot_memory& memory = f.follows ? remember_slot(s, pool, i, ped, f.now) : nothing;
    position at;
    float distance = 0.0f;
    if (!qualifies(ped, settings, f, &at, &distance)) return;
    const float health = field<float>(ped, host::ped::health);
    const float fraction = clamped_fraction(ped, health);
    // The player's target gets its ring whatever the filters after these say.
    const bool target = settings.mark_target && ped == f.target;
    if (!target && settings.show_kinds != ring_settings::all_kinds) {
      const std::uint32_t kind = field<std::uint32_t>(ped, host::ped::ped_type);
      if (kind >= 32 || !(settings.show_kinds >> kind & 1u)) return;
    }
    standing who;
    if (settings.show_relationship || settings.only_in_fight) who = standing_of(ped, f);
    if (!target && settings.only_in_fight && !who.in_fight) return;
    if (!target && fraction == 1.0f && !settings.show_full_health) return;
    const std::uint32_t alpha = target ? settings.opacity : ring_alpha(settings, distance, memory, f.now);
    if (alpha == 0) return;

    ring_plan& p = s.plans.emplace_back();
    if (target) p.scale = target_scale;
    if (settings.show_relationship && (who.hostile || who.friendly)) {
      p.band = who.hostile ? settings.hostile_colour : settings.friend_colour;
    }
    p.slot = i;
    p.status = static_cast<std::uint8_t>(pool.status[i]);
    p.at[0] = at.x;
    p.at[1] = at.y;
    p.at[2] = at.z;
    p.distance = distance;
    p.fraction = fraction;
    p.alpha = alpha;
    if (settings.show_recent_damage) p.trail = trail_fraction(memory, fraction, f.now);
    if (settings.show_armour) {
      const float armour = field<float>(ped, host::ped::armour) / 100.0f;
      p.armour = armour > 1.0f ? 1.0f : armour;
    }
  });
}

// The ground under every ring, within the event's budget of queries: the
// nearest to the player ask first, but a ring that has waited long goes
// before them all.
void find_ground(plugin_state& s) {
  constexpr std::int32_t longest_wait = 7;
  const std::int32_t event = s.frame_count;
  std::vector<std::uint32_t>& order = s.ground_order;
  order.clear();
  for (std::uint32_t i = 0; i < s.plans.size(); ++i) order.push_back(i);
  const auto key = [&](std::uint32_t i) {
    const ring_plan& p = s.plans[i];
    return std::make_pair(s.ground.waited(p.slot, event) >= longest_wait ? 0 : 1, p.distance);
  };
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
  query_budget budget;
  for (std::uint32_t i : order) {
    ring_plan& p = s.plans[i];
    const ground_under g = s.ground.update(p.slot, p.status, p.at[0], p.at[1], p.at[2], event, budget);
    p.place = place_ring(p.at[0], p.at[1], p.at[2], g);
  }
}

enum class ring_pass { background, recent_damage, health, armour, relationship };

struct fan_of_pass {
  float fraction = 0.0f;  // none unless above 0
  std::uint32_t colour = 0;
  float radius = 0.0f;
};

fan_of_pass fan_for(ring_pass pass, const ring_plan& p, const ring_settings& settings) {
  // Multiplied only for a target: every other ring's radii as they were.
  const float radius = p.scale == 1.0f ? settings.radius : settings.radius * p.scale;
  switch (pass) {
    case ring_pass::background:
      return {1.0f, (p.alpha << 24) | 0x00FFFFFFu, radius};
    case ring_pass::recent_damage:
      if (!(p.trail > p.fraction)) return {};
      return {p.trail, with_alpha(settings.recent_damage_colour, p.alpha), radius};
    case ring_pass::health:
      return {p.fraction, ring_colour(p.fraction, settings.full_health, settings.low_health, p.alpha), radius};
    case ring_pass::armour:
      return {p.armour, with_alpha(settings.armour_colour, p.alpha), radius * armour_radius};
    case ring_pass::relationship:
      if (p.band == nullptr) return {};
      return {1.0f, with_alpha(p.band, p.alpha), radius * relationship_radius};
  }
  return {};
}

// One pass over the plans: their fans of one texture in as few batches as the
// game's limits allow. A refused batch's rings get nothing more this frame.
void draw_fans(plugin_state& s, ring_pass pass, host::RwTexture* texture, float heading) {
  ring_batch& b = s.batch;
  b.begin(texture);
  const auto draw = [&] {
    if (b.empty()) return;
    if (!b.draw()) {
      for (std::uint32_t m = 0; m < b.member_count(); ++m) s.plans[b.members()[m]].refused = true;
    }
    b.clear();
  };
  for (std::uint32_t i = 0; i < s.plans.size(); ++i) {
    const ring_plan& p = s.plans[i];
    if (p.refused) continue;
    const fan_of_pass fan = fan_for(pass, p, s.settings);
    fan_plane plane;
    const bool plain = plain_fan(p.place, fan.radius, &plane);
    decal_mesh& cut = s.decal;
    if (!plain && !cut_fan(p.place, heading, fan.fraction, fan.colour, fan.radius, &cut)) continue;
    const fan_size size = plain ? fan_size_of(p.place, fan.fraction, fan.radius) : fan_size{cut.vertex_count, cut.index_count};
    if (size.vertices == 0) continue;
    if (!b.fits(size)) draw();
    std::uint16_t* indices = nullptr;
    std::uint32_t first = 0;
    host::RwIm3DVertex* v = b.add(i, size, &indices, &first);
    if (plain) {
      write_fan(p.place, heading, fan.fraction, fan.colour, fan.radius, v, indices, first, plane);
      continue;
    }
    std::memcpy(v, cut.vertices, sizeof *v * cut.vertex_count);
    for (std::uint32_t k = 0; k < cut.index_count; ++k) indices[k] = static_cast<std::uint16_t>(first + cut.indices[k]);
  }
  draw();
}

// In a frame without rings, health is followed all the same: a hit taken
// while they were hidden is dated when it was taken, not when they return.
void follow_damage(plugin_state& s) {
  const host::ped_pool* pool = host::host_ped_pool();
  if (pool == nullptr) return;
  const std::uint8_t* player = host::host_player_pedestrian(-1);
  const std::uint32_t now = host::host_game_clock();
  s.damage.fit(pool->size);
  for_each_pedestrian(*pool, player, [&](std::int32_t i, const std::uint8_t* ped) { remember_slot(s, *pool, i, ped, now); });
}

// True when the pool was walked, and with it the damage followed.
bool draw_rings(plugin_state& s) {
  frame_view f;
  host::RwTexture* background = s.ring_background;
  host::RwTexture* foreground = s.ring_foreground;
  f.player = host::host_player_pedestrian(-1);
  if (!background || !foreground || !f.player) return false;
  if (!camera_heading(&f.heading)) return false;
  f.pool = host::host_ped_pool();
  if (f.pool == nullptr) return false;
  const ring_settings& settings = s.settings;
  f.player_at = position_of(f.player);
  f.follows = settings.follows_damage();
  f.now = f.follows ? host::host_game_clock() : 0;
  f.reach = settings.radius * (settings.show_relationship ? relationship_radius
                                : settings.show_armour        ? armour_radius
                                                              : 1.0f);
  if (settings.mark_target) f.reach *= target_scale;
  if (settings.asks_who() || settings.mark_target) read_who(settings, f);

  plan_rings(s, f);
  find_ground(s);
  s.peds_in_range += static_cast<std::int32_t>(s.plans.size());
  if (!s.plans.empty()) {
    const game_states before = read_game_states();
    for (const render_state_value& rs : ring_render_states) host::RwRenderStateSet(rs.state, rs.value);
    s.batch.start_frame();
    draw_fans(s, ring_pass::background, background, f.heading);
    if (settings.show_recent_damage) draw_fans(s, ring_pass::recent_damage, foreground, f.heading);
    draw_fans(s, ring_pass::health, foreground, f.heading);
    host::RwTexture* arcs = s.ring_armour ? s.ring_armour : foreground;
    if (settings.show_armour) draw_fans(s, ring_pass::armour, arcs, f.heading);
    if (settings.show_relationship) draw_fans(s, ring_pass::relationship, arcs, f.heading);
    give_back(before);
  }
  for (const ring_plan& p : s.plans) ++(p.refused ? s.projection_failed : s.rings_drawn);
  return true;
}

// A multiplayer client loaded in the game's process, by the name it is
// known by, or null.
const char* multiplayer_client() {
  for (const char* client : {"samp.dll", "omp-client.dll"}) {
    if (os::get_module_handle(client) != nullptr) return client;
  }
  if (os::get_module_handle("core.dll") != nullptr && os::get_module_handle("multiplayer_sa.dll") != nullptr) {
    return "core.dll and multiplayer_sa.dll";
  }
  return nullptr;
}

// A press counts once, when the key goes down, and only while the game owns
// the foreground window: typing in another program toggles nothing.
void check_toggle_key(plugin_state& s) {
  const bool down = os::key_down(s.settings.toggle_key);
  if (down && !s.toggle_key_down && os::process_owns_foreground()) {
    s.rings_hidden = !s.rings_hidden;
    log_line(s.rings_hidden ? "rings hidden (toggle key)" : "rings shown (toggle key)");
  }
  s.toggle_key_down = down;
}

}  // namespace

void draw_pass() { draw_pass(state()); }

void draw_pass(plugin_state& s) {
  const std::int32_t frame = ++s.frame_count;

  if (!s.textures_loaded && (frame == 1 || frame % frames_per_report == 0)) {
    s.textures_loaded = load_ring_textures();
  }
  if (frame == 1) log_line("Draw event is running");
  // At the first frame, then every report period, until one is found.
  if (frame == s.next_client_check) {
    s.next_client_check = (frame / frames_per_report + 1) * frames_per_report;
    if (s.settings.allow_in_multiplayer) {
      s.next_client_check = 0;  // never: allowed, it would change nothing
    } else if (const char* client = multiplayer_client()) {
      s.next_client_check = 0;
      s.multiplayer_found = true;
      log_line("multiplayer client loaded (%s): rings off; AllowInMultiplayer=1 turns them on where the server allows it",
               client);
    }
  }

  if (s.settings.toggle_key != 0) check_toggle_key(s);
  // Where the game hides its HUD the rings go with it; nothing is counted.
  const bool hud_shown = !host::host_hides_hud(!s.settings.show_without_hud);
  // A multiplayer game's server may hide health: no ring unless the player allows them.
  const bool allowed = !s.multiplayer_found || s.settings.allow_in_multiplayer;
  const bool walked = s.textures_loaded && !s.rings_hidden && hud_shown && allowed && draw_rings(s);
  if (!walked && s.settings.follows_damage()) follow_damage(s);

  if (frame % frames_per_report == 0) {
    log_line("frame %d: loaded=%d peds_in_range=%d rings_drawn=%d projection_failed=%d "
             "(counts since last line)",
             frame, s.textures_loaded ? 1 : 0, s.peds_in_range, s.rings_drawn, s.projection_failed);
    s.projection_failed = 0;
    s.rings_drawn = 0;
    s.peds_in_range = 0;
  }
}

}  // namespace overlay
