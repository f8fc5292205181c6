// The game's functions and variables that the overlay uses, at their host
// addresses. Host functions are cdecl (arguments on the stack, removed by the
// caller) but for the game's member functions, thiscall.
#pragma once

#include <cstdint>
#include <cstring>

#include "hooking/calling_convention.h"
#include "hooking/host_version.h"
#include "host/host_addresses.h"
#include "host/renderware.h"

namespace host {

using hooking::host_address;


// Offset of RwRenderStateSet in the engine instance's function table.
constexpr std::uint32_t engine_render_state_set = 0x20;
constexpr std::uint32_t engine_render_state_get = 0x24;

// The pedestrian pool record the variable at addr::ped_pool points to.
struct ped_pool {
  std::uint8_t* slots;
  std::int8_t* status;  // negative: free slot; the low 7 bits change when a slot is given to a new pedestrian
  std::int32_t size;
};
constexpr std::uint32_t ped_slot_size = 1988;
// A pedestrian's area byte that the game shows in every area (it gives
// pedestrians this one around entering and leaving interiors).
constexpr std::int32_t everywhere_area = 13;

// Offsets into a pedestrian (an entity), and into the camera and a matrix.
namespace ped {
constexpr std::uint32_t position = 0x04;  // 3 floats, when there is no matrix
constexpr std::uint32_t matrix = 0x14;    // pointer, or null
constexpr std::uint32_t entity_flags = 0x1C;  // bit 7: visible
constexpr std::uint32_t area = 0x2F;
constexpr std::uint32_t ped_flags = 0x46D;  // bit 0: in a vehicle
constexpr std::uint32_t health = 0x540;
constexpr std::uint32_t max_health = 0x544;
constexpr std::uint32_t armour = 0x548;  // 0 for none, 100 for most
constexpr std::uint32_t intelligence = 0x47C;  // CPedIntelligence*; its task manager at +0x04 of it
constexpr std::uint32_t player_data = 0x480;   // CPlayerData*, of the player's pedestrian
constexpr std::uint32_t acquaintance = 0x4E0;  // its own record: five masks of kinds
constexpr std::uint32_t ped_type = 0x598;      // uint32, its kind
constexpr std::uint32_t lock_target = 0x71C;   // the player's: the entity it locks on to
constexpr std::uint32_t aim_target = 0x79C;    // the player's: the entity it aims at freely
}  // namespace ped

// A pedestrian's kinds (m_nPedType) that the plugin asks about.
constexpr std::uint32_t kind_player = 0;  // the player's own kind: bit 0 of the masks
// The acquaintance record's masks: bit n stands for kind n.
namespace acquaintance {
constexpr std::uint32_t respect = 0x00;
constexpr std::uint32_t like = 0x04;
constexpr std::uint32_t dislike = 0x0C;
constexpr std::uint32_t hate = 0x10;
}  // namespace acquaintance
constexpr std::uint32_t intelligence_task_manager = 0x04;
// Attacking tasks and where each holds its target.
struct attack_task {
  std::int32_t type;
  std::uint32_t target;
};
constexpr attack_task attack_tasks[3] = {{1000, 0x10}, {1001, 0x0C}, {1002, 0x0C}};  // kill on foot, melee, armed
// The player's group, and the police after the player.
constexpr std::uint32_t player_data_group = 0x38;  // uint32; outside 0 to 7: none
constexpr std::uint32_t ped_group_size = 0x2D4;
constexpr std::uint32_t group_members = 0x0C;  // eight pointers, the leader last, nulls allowed
constexpr int group_member_count = 8;
constexpr std::uint32_t wanted_cops_in_pursuit = 0x18;  // uint8
constexpr std::uint32_t wanted_cops = 0x1F4;            // ten pointers, nulls allowed
constexpr int wanted_cop_count = 10;
namespace matrix {
constexpr std::uint32_t forward_x = 0x10;
constexpr std::uint32_t forward_y = 0x14;
constexpr std::uint32_t position = 0x30;
}  // namespace matrix
constexpr std::uint32_t camera_matrix = 0x14;

// CColPoint, as CWorld::ProcessVerticalLine fills it.
namespace col_point {
constexpr std::uint32_t size = 0x2C;
constexpr std::uint32_t point = 0x00;   // 3 floats
constexpr std::uint32_t normal = 0x10;  // 3 floats
}  // namespace col_point

// CStoredCollPoly: the collision triangle a line met, in world space.
namespace stored_coll_poly {
constexpr std::uint32_t size = 0x2C;
constexpr std::uint32_t corners = 0x00;  // three CVectors, at +0x00, +0x0C, +0x18
constexpr std::uint32_t valid = 0x24;    // bool: a triangle was met
constexpr std::uint32_t lighting = 0x28;
}  // namespace stored_coll_poly

// An entity's type: the low three bits of its byte +0x36. Buildings and
// dummies never move; vehicles and objects may.
constexpr std::uint32_t entity_type_byte = 0x36;
enum class entity_type : std::uint8_t { nothing = 0, building = 1, vehicle = 2, ped = 3, object = 4, dummy = 5 };

// What one vertical line met.
struct ground_hit {
  float point[3] = {};
  float normal[3] = {};
  bool triangle = false;  // corners hold the collision triangle met
  float corners[3][3] = {};
  entity_type kind = entity_type::nothing;
  const void* entity = nullptr;
};

// A pedestrian's position lies this far above its feet; the game projects
// its shadow onto ground up to this far below them.
constexpr float ped_feet_below = 1.0f;
constexpr float shadow_reach = 4.0f;

// The three version-resolved references, resolved once at load.
struct host_references {
  hooking::host_reference load_txd{addr::load_txd, addr::load_txd, 0, 0, 0, 0, 0};
  hooking::host_reference camera{addr::camera, addr::camera, 0, 0, 0, 0, 0};
  hooking::host_reference current_area{addr::current_area, addr::current_area, 0, 0, 0, 0, 0};
};
const host_references& references();

using RwTexCallBack = RwTexture*(HOST_CDECL*)(RwTexture* texture, void* data);

template <class F>
inline F host_function(host_address address) {
  return reinterpret_cast<F>(static_cast<std::uintptr_t>(address));
}

inline RwTexDictionary* host_load_txd(const char* path) {
  using fn = RwTexDictionary*(HOST_CDECL*)(const char*);
  return reinterpret_cast<fn>(references().load_txd.address())(path);
}

inline RwTexDictionary* RwTexDictionaryForAllTextures(RwTexDictionary* dictionary,
                                                      RwTexCallBack callback, void* data) {
  using fn = RwTexDictionary*(HOST_CDECL*)(RwTexDictionary*, RwTexCallBack, void*);
  return host_function<fn>(addr::tex_dictionary_for_all_textures)(dictionary, callback, data);
}

inline RwTexture* RwTexDictionaryFindNamedTexture(RwTexDictionary* dictionary, const char* name) {
  using fn = RwTexture*(HOST_CDECL*)(RwTexDictionary*, const char*);
  return host_function<fn>(addr::tex_dictionary_find_named_texture)(dictionary, name);
}

inline void RwTexDictionaryDestroy(RwTexDictionary* dictionary) {
  using fn = std::int32_t(HOST_CDECL*)(RwTexDictionary*);
  host_function<fn>(addr::tex_dictionary_destroy)(dictionary);
}

inline void* RwIm3DTransform(RwIm3DVertex* vertices, std::uint32_t count, void* matrix,
                             std::uint32_t flags) {
  using fn = void*(HOST_CDECL*)(RwIm3DVertex*, std::uint32_t, void*, std::uint32_t);
  return host_function<fn>(addr::im3d_transform)(vertices, count, matrix, flags);
}

inline void RwIm3DRenderPrimitive(std::int32_t primitive_type) {
  using fn = std::int32_t(HOST_CDECL*)(std::int32_t);
  host_function<fn>(addr::im3d_render_primitive)(primitive_type);
}

inline bool RwIm3DRenderIndexedPrimitive(std::int32_t primitive_type, std::uint16_t* indices, std::int32_t count) {
  using fn = std::int32_t(HOST_CDECL*)(std::int32_t, std::uint16_t*, std::int32_t);
  return host_function<fn>(addr::im3d_render_indexed_primitive)(primitive_type, indices, count) != 0;
}

inline void RwIm3DEnd() {
  using fn = std::int32_t(HOST_CDECL*)();
  host_function<fn>(addr::im3d_end)();
}

// RwRenderStateGet: the state's value as the engine holds it; false when the
// engine does not answer.
inline bool RwRenderStateGet(std::int32_t state, std::uintptr_t* value) {
  using fn = std::int32_t(HOST_CDECL*)(std::int32_t, void*);
  auto* instance = *reinterpret_cast<std::uint8_t**>(static_cast<std::uintptr_t>(addr::engine_instance));
  auto get = *reinterpret_cast<fn*>(instance + engine_render_state_get);
  std::uintptr_t v = 0;
  if (!get(state, &v)) return false;
  *value = v;
  return true;
}

// CTaskManager::FindActiveTaskByType: the active task of that type, or null.
inline const std::uint8_t* host_find_active_task(const std::uint8_t* task_manager, std::int32_t type) {
  using fn = void*(HOST_THISCALL*)(const void*, std::int32_t);
  return static_cast<const std::uint8_t*>(host_function<fn>(addr::find_active_task)(task_manager, type));
}

inline std::uint8_t* host_player_pedestrian(std::int32_t player) {
  using fn = std::uint8_t*(HOST_CDECL*)(std::int32_t);
  return host_function<fn>(addr::player_pedestrian)(player);
}

inline void RwRenderStateSet(std::int32_t state, std::uintptr_t value) {
  using fn = std::int32_t(HOST_CDECL*)(std::int32_t, void*);
  auto* instance = *reinterpret_cast<std::uint8_t**>(static_cast<std::uintptr_t>(addr::engine_instance));
  auto set = *reinterpret_cast<fn*>(instance + engine_render_state_set);
  set(state, reinterpret_cast<void*>(value));
}

inline ped_pool* host_ped_pool() {
  return *reinterpret_cast<ped_pool**>(static_cast<std::uintptr_t>(addr::ped_pool));
}

inline std::uint32_t host_game_clock() {
  return *reinterpret_cast<const std::uint32_t*>(static_cast<std::uintptr_t>(addr::game_clock));
}

inline std::uint8_t* host_camera() { return references().camera.as<std::uint8_t>(); }

// Whether the game hides its HUD in this frame; the menu's own switch is
// asked only when menu_counts.
inline bool host_hides_hud(bool menu_counts) {
  const auto byte = [](host_address a) { return *reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(a)); };
  const auto word = [](host_address a) { return *reinterpret_cast<const std::uint32_t*>(static_cast<std::uintptr_t>(a)); };
  return byte(addr::widescreen_on) != 0 || byte(addr::display_hud) == 0 || (menu_counts && byte(addr::menu_hud_on) == 0) ||
         byte(addr::replay_mode) == 1 || byte(addr::taking_photo) != 0 ||
         word(addr::cinematic_frame) == word(addr::frame_counter) || byte(addr::cutscene_running) != 0;
}

// CWorld::ProcessVerticalLine: the surface nearest origin on the vertical line
// from it down to end_z (a height, not a length), among buildings, vehicles,
// objects and dummies (not pedestrians). A collision triangle met comes back
// with its corners; a box or sphere fills none, and then the point and the
// normal are all there is.
inline bool host_vertical_line(const float origin[3], float end_z, ground_hit* hit) {
  using fn = bool(HOST_CDECL*)(const float*, float, void*, void**, bool, bool, bool, bool, bool, bool, void*);
  alignas(4) std::uint8_t point[col_point::size] = {};
  alignas(4) std::uint8_t poly[stored_coll_poly::size] = {};
  void* entity = nullptr;
  poly[stored_coll_poly::valid] = 0;  // the game writes it only when it met a triangle
  if (!host_function<fn>(addr::process_vertical_line)(origin, end_z, point, &entity, true, true, false, true, true,
                                                       false, poly)) {
    return false;
  }
  std::memcpy(hit->point, point + col_point::point, sizeof hit->point);
  std::memcpy(hit->normal, point + col_point::normal, sizeof hit->normal);
  hit->triangle = poly[stored_coll_poly::valid] != 0;
  if (hit->triangle) std::memcpy(hit->corners, poly + stored_coll_poly::corners, sizeof hit->corners);
  hit->entity = entity;
  hit->kind = entity_type::building;  // a hit without an entity is the world's own
  if (entity != nullptr) {
    hit->kind = static_cast<entity_type>(static_cast<const std::uint8_t*>(entity)[entity_type_byte] & 7u);
  }
  return true;
}

inline std::int32_t host_current_area() { return *references().current_area.as<std::int32_t>(); }

}  // namespace host
