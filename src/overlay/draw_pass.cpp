#include "overlay/draw_pass.h"

#include <cmath>
#include <cstring>
#include <iterator>

#include "host/host_services.h"
#include "overlay/diagnostic_log.h"
#include "overlay/plugin_state.h"
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
  float health = 0.0f;
  std::memcpy(&health, ped + host::ped::health, sizeof health);
  remember(memory, static_cast<std::uint8_t>(pool.status[i]), health, health_fraction(ped), now);
  return memory;
}

// The pool walk with the player's overlays. Every occupied slot is
// remembered, ringed or not: a pedestrian hit out of range has its fall
// counted all the same.
void draw_rings_with_overlays(plugin_state& s, const host::ped_pool& pool, const std::uint8_t* player,
                              host::RwTexture* background, float heading, host::RwTexture* foreground) {
  const bool follows = s.settings.follows_damage();
  const std::uint32_t now = follows ? host::host_game_clock() : 0;
  s.damage.fit(pool.size);
  static const slot_memory nothing{};
  for_each_pedestrian(pool, player, [&](std::int32_t i, const std::uint8_t* ped) {
    const slot_memory& memory = follows ? remember_slot(s, pool, i, ped, now) : nothing;
    draw_ped_ring_overlays(ped, background, heading, foreground, memory, now);
  });
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
  host::RwTexture* background = s.ring_background;
  host::RwTexture* foreground = s.ring_foreground;
  const std::uint8_t* player = host::host_player_pedestrian(-1);
  if (!background || !foreground || !player) return false;

  float heading = 0.0f;
  if (!camera_heading(&heading)) return false;
  const host::ped_pool* pool = host::host_ped_pool();
  if (pool == nullptr) return false;

  const game_states before = read_game_states();
  for (const render_state_value& rs : ring_render_states) host::RwRenderStateSet(rs.state, rs.value);

  if (s.settings.overlays()) {
    draw_rings_with_overlays(s, *pool, player, background, heading, foreground);
  } else {
    for_each_pedestrian(*pool, player,
                        [=](std::int32_t, const std::uint8_t* ped) { draw_ped_ring(ped, background, heading, foreground); });
  }
  give_back(before);
  return true;
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

  if (s.settings.toggle_key != 0) check_toggle_key(s);
  // Where the game hides its HUD the rings go with it; nothing is counted.
  const bool hud_shown = !host::host_hides_hud(!s.settings.show_without_hud);
  const bool walked = s.textures_loaded && !s.rings_hidden && hud_shown && draw_rings(s);
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
