#include "sim/host_world.h"

#include "sim/disc_ranges.h"
#include "sim/site_function.h"
#include "platform/file_reading.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {
namespace {

template <class T>
void put(std::uint8_t* object, std::uint32_t offset, T value) {
  std::memcpy(object + offset, &value, sizeof value);
}

bool read_narrow(const char* path, std::vector<std::uint8_t>* bytes) {
  os::file_handle file = os::open_file(path, os::file_open::read_existing);
  if (file == nullptr) return false;
  const bool ok = os::read_all(file, bytes);
  os::close_file(file);
  return ok;
}

}  // namespace

host_world& host_world::get() {
  static host_world world;
  return world;
}

bool host_world::lay_out(std::uint32_t version, std::uintptr_t base) {
  game_image& image = game_image::get();
  if (!image.map(base)) return false;
  image.clear();
  image.write_probe(version);
  for (host_address site : host::addr::event_sites) site_function::write_call(site, game_callee(site));
  foreign_module::get().clear();
  site_function::clear_mismatches();
  image.write_jump_stub(host::addr::load_txd, reinterpret_cast<const void*>(&load_txd));
  image.write_jump_stub(host::addr::tex_dictionary_for_all_textures, reinterpret_cast<const void*>(&for_all_textures));
  image.write_jump_stub(host::addr::tex_dictionary_find_named_texture, reinterpret_cast<const void*>(&find_named_texture));
  image.write_jump_stub(host::addr::tex_dictionary_destroy, reinterpret_cast<const void*>(&destroy_dictionary));
  image.write_jump_stub(host::addr::im3d_transform, reinterpret_cast<const void*>(&im3d_transform));
  image.write_jump_stub(host::addr::im3d_render_primitive, reinterpret_cast<const void*>(&im3d_render_primitive));
  image.write_jump_stub(host::addr::im3d_end, reinterpret_cast<const void*>(&im3d_end));
  image.write_jump_stub(host::addr::im3d_render_indexed_primitive,
                        reinterpret_cast<const void*>(&im3d_render_indexed_primitive));
  image.write_jump_stub(host::addr::process_vertical_line, reinterpret_cast<const void*>(&process_vertical_line));
  image.write_jump_stub(host::addr::find_active_task, reinterpret_cast<const void*>(&find_active_task));
  image.write_jump_stub(host::addr::player_pedestrian, reinterpret_cast<const void*>(&player_pedestrian));
  reset_scene();
  image.seal();
  return true;
}

const void* host_world::game_callee(host_address site) {
  if (site == host::addr::start_up_site) return reinterpret_cast<const void*>(&game_start_up);
  if (site == host::addr::drawing_site) return reinterpret_cast<const void*>(&game_drawing);
  return reinterpret_cast<const void*>(&game_shutdown);
}

bool host_world::patch_by_another_module(host_address site, foreign_form form) {
  return foreign_module::get().patch(site, form, game_callee(site));
}

void host_world::reset_scene() {
  calls.clear();
  fans_.clear();
  frame = 0;
  std::fill(std::begin(game_calls), std::end(game_calls), 0u);
  reject_all_transforms = false;
  render_states_.fill(0);
  render_state_mismatches = 0;
  rejected_centres_.clear();
  matrices_.clear();
  set_ground({});
  movers_.clear();
  vertical_lines = 0;
  pending_held_ = false;
  pool_missing_ = false;
  set_pool_size(140);
  camera_matrix_ = {};
  set_camera_forward(0.0f, 1.0f);
  set_area(0);
  set_player(0, vec3{});
  set_clock(0);
  frame_counter_ = 1000;
  set_hud(hud_state{});
  write_variables();
}

void host_world::set_hud(const hud_state& hud) {
  hud_ = hud;
  game_image& image = game_image::get();
  const auto flag = [&](host_address a, bool on) {
    const std::uint8_t b = on ? 1 : 0;
    image.write(a, &b, 1);
  };
  flag(host::addr::widescreen_on, hud.widescreen);
  flag(host::addr::display_hud, hud.display_hud);
  flag(host::addr::menu_hud_on, hud.menu_hud);
  flag(host::addr::replay_mode, hud.replay);
  flag(host::addr::taking_photo, hud.photo);
  flag(host::addr::cutscene_running, hud.cutscene);
  image.write_word(host::addr::frame_counter, frame_counter_);
  image.write_word(host::addr::cinematic_frame, hud.cinematic ? frame_counter_ : 0);
}

void host_world::write_variables() {
  game_image& image = game_image::get();
  pool_.slots = slots_.data();
  pool_.status = status_.data();
  pool_.size = static_cast<std::int32_t>(status_.size());
  const host::ped_pool* pool = pool_missing_ ? nullptr : &pool_;
  image.write(host::addr::ped_pool, &pool, sizeof pool);
  put<std::uintptr_t>(engine_.data(), host::engine_render_state_set,
                      reinterpret_cast<std::uintptr_t>(&render_state_set));
  put<std::uintptr_t>(engine_.data(), host::engine_render_state_get,
                      reinterpret_cast<std::uintptr_t>(&render_state_get));
  const std::uint8_t* engine = engine_.data();
  image.write(host::addr::engine_instance, &engine, sizeof engine);
}

void host_world::set_pool_size(int slots) {
  const auto n = static_cast<std::size_t>(std::max(slots, 0));
  slots_.assign(n * host::ped_slot_size, 0);
  status_.assign(n, static_cast<std::int8_t>(-128));
  who_.assign(n, ped_setup{});
  intelligence_.assign(n, {});
  tasks_.assign(n, {});
  lock_target_ = aim_target_ = -1;
  player_ = nullptr;
  write_variables();
  write_group_and_wanted();
}

void host_world::set_who(int slot, const ped_setup& desc) {
  ped_setup& w = who_[static_cast<std::size_t>(slot)];
  w = desc;
  w.slot = slot;
  std::uint8_t* ped = ped_at(slot);
  put(ped, host::ped::ped_type, desc.kind);
  put(ped, host::ped::acquaintance + host::acquaintance::respect, desc.respect);
  put(ped, host::ped::acquaintance + host::acquaintance::like, desc.like);
  put(ped, host::ped::acquaintance + host::acquaintance::dislike, desc.dislike);
  put(ped, host::ped::acquaintance + host::acquaintance::hate, desc.hate);
  put(ped, host::ped::intelligence, intelligence_[static_cast<std::size_t>(slot)].data());
  write_group_and_wanted();
}

void host_world::set_targets(int lock, int aim) {
  lock_target_ = lock;
  aim_target_ = aim;
  if (player_ == nullptr) return;
  put<const std::uint8_t*>(player_, host::ped::lock_target, lock < 0 ? nullptr : ped_at(lock));
  put<const std::uint8_t*>(player_, host::ped::aim_target, aim < 0 ? nullptr : ped_at(aim));
}

// The player's group (number 0: its members, the player leading, last) and
// its wanted record (the police in pursuit, and their count).
void host_world::write_group_and_wanted() {
  game_image& image = game_image::get();
  std::array<const std::uint8_t*, host::group_member_count> members{};
  std::array<const std::uint8_t*, host::wanted_cop_count> cops{};
  std::size_t m = 0, c = 0;
  for (std::size_t slot = 0; slot < who_.size(); ++slot) {
    if (status_[slot] < 0) continue;
    if (who_[slot].group && m + 1 < members.size()) members[m++] = ped_at(static_cast<int>(slot));
    if (who_[slot].pursuing && c < cops.size()) cops[c++] = ped_at(static_cast<int>(slot));
  }
  members.back() = player_;
  image.write(host::addr::ped_groups + host::group_members, members.data(), sizeof members);
  std::memcpy(wanted_.data() + host::wanted_cops, cops.data(), sizeof cops);
  wanted_[host::wanted_cops_in_pursuit] = static_cast<std::uint8_t>(c);
  const std::uint8_t* wanted = wanted_.data();
  image.write(host::addr::player_wanted, &wanted, sizeof wanted);
}

void host_world::set_pool_missing(bool missing) {
  pool_missing_ = missing;
  write_variables();
}

float* host_world::new_matrix() {
  matrices_.emplace_back();
  std::array<float, 16>& m = matrices_.back();
  m = {};
  m[0] = m[5] = m[10] = m[15] = 1.0f;
  return m.data();
}

std::uint8_t* host_world::ped_at(int slot) {
  return slots_.data() + static_cast<std::size_t>(slot) * host::ped_slot_size;
}

std::uint8_t* host_world::add_ped(const ped_setup& desc) {
  std::uint8_t* ped = ped_at(desc.slot);
  std::memset(ped, 0, host::ped_slot_size);
  status_[static_cast<std::size_t>(desc.slot)] = 0;
  if (desc.use_matrix) {
    float* m = new_matrix();
    m[12] = desc.position.x;
    m[13] = desc.position.y;
    m[14] = desc.position.z;
    put(ped, host::ped::matrix, m);
  } else {
    put(ped, host::ped::position, desc.position);
  }
  ped[host::ped::entity_flags] = desc.visible ? 0x80 : 0x00;
  ped[host::ped::area] = desc.area;
  ped[host::ped::ped_flags] = desc.in_vehicle ? 0x01 : 0x00;
  put(ped, host::ped::health, desc.health);
  put(ped, host::ped::max_health, desc.max_health);
  put(ped, host::ped::armour, desc.armour);
  set_who(desc.slot, desc);
  if (desc.reject_transform) rejected_centres_.push_back({desc.position.x, desc.position.y});
  std::erase_if(movers_, [&](const mover& m) { return m.slot == desc.slot; });
  if (desc.velocity[0] != 0.0f || desc.velocity[1] != 0.0f) {
    movers_.push_back(mover{desc.slot, {desc.velocity[0], desc.velocity[1]}});
  }
  return ped;
}

void host_world::set_health(int slot, float health) { put(ped_at(slot), host::ped::health, health); }
void host_world::set_armour(int slot, float armour) { put(ped_at(slot), host::ped::armour, armour); }

void host_world::respawn(int slot) {
  std::int8_t& status = status_[static_cast<std::size_t>(slot)];
  status = static_cast<std::int8_t>((status + 1) & 0x7F);
}

void host_world::move_peds(std::uint32_t ms, std::int32_t at_frame) {
  if (ms == 0) return;
  const float seconds = static_cast<float>(ms) / 1000.0f;
  for (const mover& m : movers_) {
    std::uint8_t* ped = ped_at(m.slot);
    std::uint8_t* matrix = nullptr;
    std::memcpy(&matrix, ped + host::ped::matrix, sizeof matrix);
    std::uint8_t* where = matrix ? matrix + host::matrix::position : ped + host::ped::position;
    vec3 p;
    std::memcpy(&p, where, sizeof p);
    p.x += m.velocity[0] * seconds;
    p.y += m.velocity[1] * seconds;
    float top = 0.0f;
    // On what is there in the event it moves for.
    if (ground_top(ground_, p.x, p.y, p.z, -1.0e30f, &top, at_frame) >= 0) p.z = top + host::ped_feet_below;
    std::memcpy(where, &p, sizeof p);
    host_call moved{call_kind::ped_position, at_frame};
    moved.slot = m.slot;
    moved.origin[0] = p.x;
    moved.origin[1] = p.y;
    moved.origin[2] = p.z;
    record(std::move(moved));
  }
}

void host_world::set_clock(std::uint32_t ms) { game_image::get().write_word(host::addr::game_clock, ms); }

void host_world::free_slot(int slot) {
  status_[static_cast<std::size_t>(slot)] = static_cast<std::int8_t>(-128);
  write_group_and_wanted();
}

void host_world::set_player(int slot, vec3 position, bool use_matrix) {
  ped_setup desc;
  desc.slot = slot;
  desc.position = position;
  desc.use_matrix = use_matrix;
  desc.kind = host::kind_player;
  player_ = add_ped(desc);
  // Its data: the group it leads, number 0.
  player_data_.fill(0);
  put(player_, host::ped::player_data, player_data_.data());
  write_group_and_wanted();
  set_targets(lock_target_, aim_target_);
}

void host_world::set_player_outside_pool(vec3 position) {
  lone_player_.fill(0);
  put(lone_player_.data(), host::ped::position, position);
  lone_player_[host::ped::entity_flags] = 0x80;
  put(lone_player_.data(), host::ped::health, 100.0f);
  player_ = lone_player_.data();
}

void host_world::remove_player() { player_ = nullptr; }

void host_world::set_camera_forward(float x, float y) {
  camera_matrix_[4] = x;  // forward axis at matrix offset 0x10
  camera_matrix_[5] = y;
  const float* m = camera_matrix_.data();
  game_image::get().write(host::addr::camera + host::camera_matrix, &m, sizeof m);
}

void host_world::set_camera_without_matrix() {
  const float* m = nullptr;
  game_image::get().write(host::addr::camera + host::camera_matrix, &m, sizeof m);
}

void host_world::set_area(std::int32_t area) { game_image::get().write_word(host::addr::current_area, static_cast<std::uint32_t>(area)); }

void* host_world::start_up() { return run_site(host::addr::start_up_site); }

namespace {

// What Render2dStuff sets before the drawing site, and expects as it left
// them until the HUD is drawn.
constexpr std::pair<std::int32_t, std::uintptr_t> hud_render_states[] = {
    {host::rwRENDERSTATEZTESTENABLE, 0},
    {host::rwRENDERSTATEZWRITEENABLE, 0},
    {host::rwRENDERSTATEVERTEXALPHAENABLE, 1},
    {host::rwRENDERSTATESRCBLEND, host::rwBLENDSRCALPHA},
    {host::rwRENDERSTATEDESTBLEND, host::rwBLENDINVSRCALPHA},
    {host::rwRENDERSTATEFOGENABLE, 0},
    {host::rwRENDERSTATECULLMODE, host::rwCULLMODECULLNONE},
};

}  // namespace

void* host_world::draw() {
  ++frame;
  fans_.clear();
  ++frame_counter_;
  game_image& image = game_image::get();
  image.write_word(host::addr::frame_counter, frame_counter_);
  if (hud_.cinematic) image.write_word(host::addr::cinematic_frame, frame_counter_);
  for (const auto& [state, value] : hud_render_states) render_state(state) = value;
  void* result = run_site(host::addr::drawing_site);
  bool all_back = true;
  for (const auto& [state, value] : hud_render_states) {
    if (render_state(state) == value) continue;
    all_back = false;
    host_call left{call_kind::render_state_left, frame};
    left.state = state;
    left.value = render_state(state);
    left.expected = value;
    record(std::move(left));
  }
  if (!all_back) ++render_state_mismatches;
  return result;
}

void* host_world::shutdown() { return run_site(host::addr::shutdown_site); }

void* host_world::run_site(host_address site) { return site_function::run(site); }

void host_world::record(host_call call) {
  if (recording) calls.push_back(std::move(call));
}

std::vector<host_call> host_world::calls_of(call_kind kind) const {
  std::vector<host_call> out;
  for (const host_call& c : calls) {
    if (c.kind == kind) out.push_back(c);
  }
  return out;
}

std::vector<std::string> host_world::loaded_paths() const {
  std::vector<std::string> out;
  for (const host_call& c : calls) {
    if (c.kind == call_kind::load_txd) out.push_back(c.path);
  }
  return out;
}

host::RwTexDictionary* host_world::load_txd(const char* path) {
  host_world& w = get();
  host_call call{call_kind::load_txd, w.frame};
  call.path = path;
  auto dict = std::make_unique<sim_dictionary>();
  dict->path = path;
  std::vector<std::uint8_t> bytes;
  std::vector<txd::walked_texture> found;
  // As the game does: through its C runtime's narrow open, MAX_PATH and all.
  if (read_narrow(path, &bytes)) {
    const txd::walk_result walk = txd::walk_dictionary(bytes.data(), bytes.size(), &found);
    call.ok = walk.readable();
    if (!walk.readable() && walk.verdict != txd::walk_verdict::no_dictionary) {
      call.fault = std::string("its dictionary chunk could not be read and the stream was closed twice (") +
                   walk.why + ")";
      w.loader_faults.push_back(path);
      found.clear();
    }
  }
  w.record(std::move(call));
  // What the game could not open or read: a new, empty dictionary.
  for (std::size_t i = 0; i < found.size(); ++i) {
    auto tex = std::make_unique<sim_texture>();
    std::memset(tex.get(), 0, sizeof(sim_texture));
    tex->raster = reinterpret_cast<host::RwRaster*>(tex.get());
    std::memcpy(tex->name, found[i].name, sizeof tex->name);
    tex->index = i;
    dict->textures.insert(dict->textures.begin(), std::move(tex));
  }
  w.live_dictionaries.push_back(std::move(dict));
  return reinterpret_cast<host::RwTexDictionary*>(w.live_dictionaries.back().get());
}

host::RwTexDictionary* host_world::for_all_textures(host::RwTexDictionary* dict, host::RwTexCallBack callback,
                                                    void* data) {
  auto* d = reinterpret_cast<sim_dictionary*>(dict);
  for (const auto& t : d->textures) {
    if (callback(reinterpret_cast<host::RwTexture*>(t.get()), data) == nullptr) break;
  }
  return dict;
}

host::RwTexture* host_world::find_named_texture(host::RwTexDictionary* dict, const char* name) {
  auto* d = reinterpret_cast<sim_dictionary*>(dict);
  for (const auto& t : d->textures) {
    if (txd::same_texture_name(t->name, name)) return reinterpret_cast<host::RwTexture*>(t.get());
  }
  return nullptr;
}

std::int32_t host_world::destroy_dictionary(host::RwTexDictionary* dict) {
  host_world& w = get();
  w.record(host_call{call_kind::tex_dictionary_destroy, w.frame});
  auto it = std::find_if(w.live_dictionaries.begin(), w.live_dictionaries.end(),
                         [dict](const auto& d) { return reinterpret_cast<host::RwTexDictionary*>(d.get()) == dict; });
  if (it != w.live_dictionaries.end()) w.live_dictionaries.erase(it);
  ++w.dictionaries_destroyed;
  return 1;
}

void* host_world::im3d_transform(host::RwIm3DVertex* vertices, std::uint32_t count, void* /*matrix*/,
                                 std::uint32_t flags) {
  host_world& w = get();
  bool accepted = !w.reject_all_transforms && count <= host::im3d_max_vertices;
  for (const auto& c : w.rejected_centres_) {
    for (std::uint32_t i = 0; i < count && accepted; ++i) accepted = !(vertices[i].x == c[0] && vertices[i].y == c[1]);
  }
  w.pending_held_ = false;
  if (w.recording || (w.keep_fans && accepted)) {
    host_call call{call_kind::im3d_transform, w.frame};
    call.ok = accepted;
    call.flags = flags;
    call.texture = w.raster_texture_;
    call.vertices.assign(vertices, vertices + count);
    if (accepted && w.keep_fans) {
      w.pending_ = call;
      w.pending_held_ = true;
    }
    if (w.recording) w.calls.push_back(std::move(call));
  }
  return accepted ? vertices : nullptr;
}

std::int32_t host_world::im3d_render_primitive(std::int32_t type) {
  host_world& w = get();
  if (w.recording) {
    host_call call{call_kind::im3d_render_primitive, w.frame};
    call.type = type;
    w.calls.push_back(std::move(call));
  }
  if (w.pending_held_ && type == host::rwPRIMTYPETRIFAN) {
    host_call fan = w.pending_;
    for (std::size_t i = 1; i + 1 < fan.vertices.size(); ++i) {
      fan.indices.insert(fan.indices.end(), {0, static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(i + 1)});
    }
    w.fans_.push_back(std::move(fan));
  }
  return 1;
}

std::int32_t host_world::im3d_render_indexed_primitive(std::int32_t type, std::uint16_t* indices, std::int32_t count) {
  host_world& w = get();
  const bool ok = type == host::rwPRIMTYPETRILIST && count > 0 && count % 3 == 0 &&
                  static_cast<std::uint32_t>(count) <= host::im3d_max_indices;
  if (w.recording) {
    host_call call{call_kind::im3d_render_indexed_primitive, w.frame};
    call.type = type;
    call.ok = ok;
    if (count > 0) call.indices.assign(indices, indices + count);
    w.calls.push_back(std::move(call));
  }
  if (ok && w.pending_held_) {
    for (host_call& disc : discs_of(w.pending_, indices, static_cast<std::size_t>(count))) w.fans_.push_back(std::move(disc));
  }
  return ok ? 1 : 0;
}

std::int32_t host_world::im3d_end() {
  host_world& w = get();
  w.pending_held_ = false;
  if (w.recording) w.calls.push_back(host_call{call_kind::im3d_end, w.frame});
  return 1;
}

void host_world::set_ground(const std::vector<ground_piece>& ground) {
  ground_ = ground;
  ground_entities_.assign(ground.size(), {});
  for (std::size_t i = 0; i < ground.size(); ++i) {
    const host::entity_type kind = ground[i].vehicle     ? host::entity_type::vehicle
                                   : ground[i].frames[0] ? host::entity_type::object
                                                         : host::entity_type::building;
    ground_entities_[i][host::entity_type_byte] = static_cast<std::uint8_t>(kind);
  }
}

bool host_world::process_vertical_line(const float* origin, float end_z, std::uint8_t* col_point, void** entity,
                                       bool /*buildings*/, bool vehicles, bool /*peds*/, bool /*objects*/,
                                       bool /*dummies*/, bool /*see_through*/, std::uint8_t* poly) {
  host_world& w = get();
  ++w.vertical_lines;
  float top = 0.0f;
  const int piece = ground_top(w.ground_, origin[0], origin[1], origin[2], end_z, &top, w.frame, vehicles);
  if (piece >= 0) {
    const ground_piece& g = w.ground_[static_cast<std::size_t>(piece)];
    const float point[3] = {origin[0], origin[1], top};
    std::memcpy(col_point + host::col_point::point, point, sizeof point);
    const float length = std::sqrt(g.slope[0] * g.slope[0] + g.slope[1] * g.slope[1] + 1.0f);
    const float normal[3] = {-g.slope[0] / length, -g.slope[1] / length, 1.0f / length};
    std::memcpy(col_point + host::col_point::normal, normal, sizeof normal);
    // A box's top fills no triangle: the game leaves the record as it was.
    if (!g.box && poly != nullptr) {
      float corners[3][3];
      g.triangle(origin[0], origin[1], corners);
      std::memcpy(poly + host::stored_coll_poly::corners, corners, sizeof corners);
      poly[host::stored_coll_poly::valid] = 1;
    }
    *entity = w.ground_entities_[static_cast<std::size_t>(piece)].data();
  }
  if (w.recording) {
    host_call call{call_kind::vertical_line, w.frame};
    std::memcpy(call.origin, origin, sizeof call.origin);
    call.end_z = end_z;
    call.ok = piece >= 0;
    call.z = top;
    call.vehicles = vehicles;
    w.calls.push_back(std::move(call));
  }
  return piece >= 0;
}

std::vector<host_call> discs_of(const host_call& transform, const std::uint16_t* indices, std::size_t count) {
  std::vector<host_call> discs;
  for (const auto& [from, to] : disc_ranges(transform.vertices)) {
    host_call disc = transform;
    disc.vertices.assign(transform.vertices.begin() + static_cast<std::ptrdiff_t>(from),
                         transform.vertices.begin() + static_cast<std::ptrdiff_t>(to));
    for (std::size_t t = 0; t + 2 < count; t += 3) {
      if (indices[t] < from || indices[t] >= to) continue;
      for (std::size_t j = 0; j < 3; ++j) disc.indices.push_back(static_cast<std::uint16_t>(indices[t + j] - from));
    }
    discs.push_back(std::move(disc));
  }
  return discs;
}

void* host_world::find_active_task(std::uint8_t* task_manager, std::int32_t type) {
  host_world& w = get();
  const std::uint8_t* intelligence = task_manager - host::intelligence_task_manager;
  for (std::size_t slot = 0; slot < w.intelligence_.size(); ++slot) {
    if (w.intelligence_[slot].data() != intelligence) continue;
    const ped_setup& who = w.who_[slot];
    if (who.attacking == 0 || who.attacking != type) return nullptr;
    std::uint8_t* task = w.tasks_[slot].data();
    const std::uint8_t* target = who.attacking_slot < 0 ? w.player_ : w.ped_at(who.attacking_slot);
    for (const host::attack_task& a : host::attack_tasks) {
      if (a.type == type) put(task, a.target, target);
    }
    return task;
  }
  return nullptr;  // no pedestrian's task manager
}

std::uint8_t* host_world::player_pedestrian(std::int32_t index) { return index == -1 ? get().player_ : nullptr; }

std::int32_t host_world::render_state_get(std::int32_t state, void* value) {
  host_world& w = get();
  const std::uintptr_t held = w.render_state(state);
  std::memcpy(value, &held, sizeof held);
  if (w.recording) {
    host_call call{call_kind::render_state_get, w.frame};
    call.state = state;
    call.value = held;
    if (state == host::rwRENDERSTATETEXTURERASTER) call.texture = w.texture_of_raster(held);
    w.calls.push_back(std::move(call));
  }
  return 1;
}

std::string host_world::texture_of_raster(std::uintptr_t raster) const {
  for (const auto& d : live_dictionaries) {
    for (const auto& t : d->textures) {
      if (reinterpret_cast<std::uintptr_t>(t->raster) == raster) return std::string(t->name, strnlen(t->name, sizeof t->name));
    }
  }
  return {};
}

std::int32_t host_world::render_state_set(std::int32_t state, void* value) {
  host_world& w = get();
  w.render_state(state) = reinterpret_cast<std::uintptr_t>(value);
  if (state == host::rwRENDERSTATETEXTURERASTER) w.raster_texture_ = w.texture_of_raster(reinterpret_cast<std::uintptr_t>(value));
  if (w.recording) {
    host_call call{call_kind::render_state_set, w.frame};
    call.state = state;
    call.value = reinterpret_cast<std::uintptr_t>(value);
    if (state == host::rwRENDERSTATETEXTURERASTER) call.texture = w.raster_texture_;
    w.calls.push_back(std::move(call));
  }
  return 1;
}

void* host_world::game_start_up() {
  ++get().game_calls[0];
  return reinterpret_cast<void*>(start_up_result);
}

void* host_world::game_drawing() {
  ++get().game_calls[1];
  return reinterpret_cast<void*>(drawing_result);
}

void* host_world::game_shutdown() {
  ++get().game_calls[2];
  return reinterpret_cast<void*>(shutdown_result);
}

}  // namespace sim
