// The simulated game around the plugin: its pedestrian pool, camera, area and
// engine, the game's functions as recording doubles, and the three events.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/foreign_patch.h"
#include "sim/game_image.h"
#include "sim/scene.h"
#include "host/host_services.h"
#include "txd/dictionary_walk.h"

namespace sim {


enum class call_kind {
  load_txd,
  tex_dictionary_destroy,
  render_state_set,
  render_state_get,
  render_state_left,  // after the drawing site: a state not as the game set it before
  im3d_transform,
  im3d_render_primitive,
  im3d_render_indexed_primitive,
  im3d_end,
  vertical_line,  // CWorld::ProcessVerticalLine
  ped_position,   // not a call: a pedestrian moved before the drawing event
};

struct host_call {
  host_call(call_kind k, std::int32_t f) : kind(k), frame(f) {}
  call_kind kind;
  std::int32_t frame;
  std::string path;           // load_txd
  bool ok = false;            // load_txd: the file was read; im3d_transform: accepted
  std::string fault;          // load_txd: what the game's loader did wrong with the file
  std::int32_t state = 0;     // render_state_set, render_state_get, render_state_left
  std::uintptr_t value = 0;   // render_state_set, render_state_get, render_state_left (as left)
  std::uintptr_t expected = 0;  // render_state_left: as the game had set it
  std::string texture;        // render_state_set of the raster: whose raster, empty for none
  std::int32_t type = 0;      // im3d_render_primitive, im3d_render_indexed_primitive
  std::uint32_t flags = 0;    // im3d_transform
  std::vector<host::RwIm3DVertex> vertices;  // im3d_transform
  // im3d_render_indexed_primitive; in a disc of accepted_fans(), its
  // triangles, counted from its hub
  std::vector<std::uint16_t> indices;
  float origin[3] = {};       // vertical_line; ped_position: where it is now
  float end_z = 0.0f;         // vertical_line
  float z = 0.0f;             // vertical_line: the top it met, when ok
  bool vehicles = false;      // vertical_line: vehicles were asked for
  int slot = 0;               // ped_position
};

// A batch's vertices split into discs, each from a hub vertex (texture
// coordinates 0.5, 0.5) to the next, with the triangles that start in it.
std::vector<host_call> discs_of(const host_call& transform, const std::uint16_t* indices, std::size_t count);

// A texture as the game's dictionaries hold it: the layout the plugin reads
// first, then the simulator's own.
struct sim_texture {
  host::RwRaster* raster;
  std::uint8_t unread[0x0C];
  char name[32];
  std::size_t index;  // in the file
};

// Listed and searched as the game keeps them: each texture read is put at
// the head of the list, so the file's last texture comes first.
struct sim_dictionary {
  std::string path;
  std::vector<std::unique_ptr<sim_texture>> textures;
};

// What the game asks before it draws its HUD; as a game without a cutscene,
// replay or photo has it, the HUD shown.
struct hud_state {
  bool widescreen = false;
  bool display_hud = true;  // a mission's switch
  bool menu_hud = true;     // the menu's switch
  bool replay = false;
  bool photo = false;
  bool cinematic = false;   // the cinematic camera
  bool cutscene = false;
  // The k-th of them, in the order above (a scenario's hud_fields).
  bool& field(std::size_t k) {
    bool* all[] = {&widescreen, &display_hud, &menu_hud, &replay, &photo, &cinematic, &cutscene};
    return *all[k];
  }
};

class host_world {
 public:
  static host_world& get();

  // Maps the image at base and lays out the game for one build: probe word,
  // call sites, function stubs and variables.
  bool lay_out(std::uint32_t version, std::uintptr_t base = image_begin);
  // Back to an empty scene: default pool, player at the origin, camera facing
  // +y, area 0, nothing recorded. Dictionaries still held stay held.
  void reset_scene();

  // Scene.
  void set_pool_size(int slots);
  void set_pool_missing(bool missing);
  std::uint8_t* add_ped(const ped_setup& desc);
  std::uint8_t* ped_at(int slot);
  void free_slot(int slot);
  // A pedestrian's health or armour changed, as a hit changes them.
  void set_health(int slot, float health);
  void set_armour(int slot, float armour);
  // The slot given to a new pedestrian: its status byte's low bits change.
  void respawn(int slot);
  // Who a pedestrian is and how it stands to the player, as ped_setup says.
  void set_who(int slot, const ped_setup& who);
  const ped_setup& who(int slot) const { return who_[static_cast<std::size_t>(slot)]; }
  // The pedestrians the player locks on to and aims at freely: slots, or -1.
  void set_targets(int lock, int aim);
  int lock_target() const { return lock_target_; }
  int aim_target() const { return aim_target_; }
  // The game's millisecond clock.
  void set_clock(std::uint32_t ms);
  // Kept until changed; the frame counter goes up before each drawing event.
  void set_hud(const hud_state& hud);
  const hud_state& hud() const { return hud_; }
  void set_player(int slot, vec3 position, bool use_matrix = true);
  // A player pedestrian that no pool slot holds.
  void set_player_outside_pool(vec3 position);
  void remove_player();
  void set_camera_forward(float x, float y);
  void set_camera_without_matrix();
  void set_area(std::int32_t area);
  // The ground the game's collision queries meet.
  void set_ground(const std::vector<ground_piece>& ground);
  // Moves every pedestrian that has a velocity by ms of it, 1.0 above the
  // ground under it where there is ground; records where each went.
  void move_peds(std::uint32_t ms, std::int32_t frame);

  // The game's own function that a site calls.
  static const void* game_callee(host_address site);
  // Another module's patch at site, as if it had loaded before the plugin.
  bool patch_by_another_module(host_address site, foreign_form form);

  // Events, run by calling the game functions that hold the call sites.
  void* start_up();
  void* draw();
  void* shutdown();

  // What the doubles saw.
  bool recording = true;
  // Keeps the accepted fans of the last drawing event, also while not recording.
  bool keep_fans = true;
  std::vector<host_call> calls;
  std::int32_t frame = 0;
  unsigned game_calls[3] = {};  // start-up, drawing, shutdown callees
  std::vector<std::unique_ptr<sim_dictionary>> live_dictionaries;
  unsigned dictionaries_destroyed = 0;
  // Files handed to the loader that the game would have faulted on: it finds
  // their dictionary chunk, fails to read it and closes its stream twice.
  std::vector<std::string> loader_faults;

  // Drawing events after which a render state the game set before the site
  // was not as it set it.
  unsigned render_state_mismatches = 0;

  // RwIm3DTransform refuses every batch while set.
  bool reject_all_transforms = false;
  // Calls of ProcessVerticalLine, also while not recording.
  std::uint64_t vertical_lines = 0;

  std::vector<host_call> calls_of(call_kind kind) const;
  std::vector<std::string> loaded_paths() const;
  std::uint8_t* player() const { return player_; }
  // The discs of the last drawing event that were accepted, in order: plain
  // fans (hub, then rim) and the discs of indexed batches.
  const std::vector<host_call>& accepted_fans() const { return fans_; }

  // The game's return values for the three hooked calls.
  static constexpr std::uintptr_t start_up_result = 0x5B0001;
  static constexpr std::uintptr_t drawing_result = 0x53E002;
  static constexpr std::uintptr_t shutdown_result = 0x53D003;

  // Doubles, entered from the game image's stubs.
  static host::RwTexDictionary* HOST_ENTRY load_txd(const char* path);
  static host::RwTexDictionary* HOST_ENTRY for_all_textures(host::RwTexDictionary* dict,
                                                             host::RwTexCallBack callback, void* data);
  static host::RwTexture* HOST_ENTRY find_named_texture(host::RwTexDictionary* dict, const char* name);
  static std::int32_t HOST_ENTRY destroy_dictionary(host::RwTexDictionary* dict);
  static void* HOST_ENTRY im3d_transform(host::RwIm3DVertex* vertices, std::uint32_t count, void* matrix,
                                         std::uint32_t flags);
  static std::int32_t HOST_ENTRY im3d_render_primitive(std::int32_t type);
  static std::int32_t HOST_ENTRY im3d_render_indexed_primitive(std::int32_t type, std::uint16_t* indices,
                                                                std::int32_t count);
  static std::int32_t HOST_ENTRY im3d_end();
  static bool HOST_ENTRY process_vertical_line(const float* origin, float end_z, std::uint8_t* col_point,
                                               void** entity, bool buildings, bool vehicles, bool peds, bool objects,
                                               bool dummies, bool see_through, std::uint8_t* poly);
  static std::uint8_t* HOST_ENTRY player_pedestrian(std::int32_t index);
  static std::int32_t HOST_ENTRY render_state_set(std::int32_t state, void* value);
  static std::int32_t HOST_ENTRY render_state_get(std::int32_t state, void* value);
  static void* HOST_ENTRY_THISCALL find_active_task(std::uint8_t* task_manager, std::int32_t type);
  static void* HOST_ENTRY game_start_up();
  static void* HOST_ENTRY game_drawing();
  static void* HOST_ENTRY game_shutdown();

 private:
  void write_variables();
  void record(host_call call);
  void* run_site(host_address site);
  // Whose raster it is, by texture name; empty for none of the dictionaries'.
  std::string texture_of_raster(std::uintptr_t raster) const;
  float* new_matrix();

  host::ped_pool pool_{};
  bool pool_missing_ = false;
  std::vector<std::uint8_t> slots_;
  std::vector<std::int8_t> status_;
  std::deque<std::array<float, 16>> matrices_;
  std::array<float, 16> camera_matrix_{};
  std::array<std::uint8_t, 0x40> engine_{};
  std::uint8_t* player_ = nullptr;
  std::array<std::uint8_t, host::ped_slot_size> lone_player_{};
  std::vector<std::array<float, 2>> rejected_centres_;
  std::vector<host_call> fans_;
  host_call pending_{call_kind::im3d_transform, 0};  // the last accepted transform, until drawn
  bool pending_held_ = false;
  std::vector<ground_piece> ground_;
  // The entity each piece is, its type in byte +0x36: a vehicle, an object
  // (a piece that comes and goes) or a building.
  std::vector<std::array<std::uint8_t, 0x40>> ground_entities_;
  struct mover {
    int slot;
    float velocity[2];
  };
  std::vector<mover> movers_;
  // Who is who: each slot's intelligence (its task manager at +4) and its
  // one attacking task, the player's data, its wanted record.
  std::vector<ped_setup> who_;
  std::vector<std::array<std::uint8_t, 0x40>> intelligence_;
  std::vector<std::array<std::uint8_t, 0x20>> tasks_;
  std::array<std::uint8_t, 0x100> player_data_{};
  std::array<std::uint8_t, 0x220> wanted_{};
  void write_group_and_wanted();
  int lock_target_ = -1, aim_target_ = -1;
  std::string raster_texture_;
  hud_state hud_;
  std::array<std::uintptr_t, 64> render_states_{};  // by RwRenderState; the engine's are fewer
  std::uintptr_t& render_state(std::int32_t state) { return render_states_[static_cast<std::size_t>(state) & 63]; }
  std::uint32_t frame_counter_ = 1000;
};

}  // namespace sim
