#include "sim/scenario_run.h"

#include <fstream>
#include <iterator>

#include "overlay/product_files.h"
#include "file/whole_file.h"
#include "sim/foreign_patch.h"
#include "png/png_io.h"
#include "sim/preview.h"
#include "sim/site_function.h"
#include "sim/trace_writer.h"

namespace sim {
namespace {

// The key that goes down before this drawing event, or up after it.
int key_going(const scenario& scene, std::int32_t frame, bool down) {
  for (const key_press& p : scene.key_presses) {
    if (frame == (down ? p.frame : p.frame + p.frames - 1)) return p.key;
  }
  return 0;
}

}  // namespace

std::string shown(const std::filesystem::path& p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

game_folder prepare_game_folder(const scenario& scene, const std::filesystem::path& out_dir,
                                const std::filesystem::path& plugin, const std::filesystem::path& txd_file) {
  namespace fs = std::filesystem;
  game_folder f;
  std::error_code ec;
  f.game = out_dir / "game";
  fs::remove_all(f.game, ec);
  if (!fs::create_directories(f.game / "scripts", ec) && ec) {
    f.error = "cannot make " + shown(f.game / "scripts") + ": " + ec.message();
    return f;
  }
  const fs::path placed = f.game / "scripts" / fs::u8path(scene.plugin_name);
  if (!fs::copy_file(plugin, placed, fs::copy_options::overwrite_existing, ec)) {
    f.error = "cannot copy the plugin " + shown(plugin) + ": " + ec.message();
    return f;
  }
  f.plugins.push_back(placed);
  if (scene.second_plugin) {
    const fs::path folder = f.game / (scene.second_plugin_elsewhere ? "plugins" : "scripts");
    fs::create_directories(folder, ec);
    if (!fs::copy_file(placed, folder / "MorvaHealthRingCopy.asi", fs::copy_options::overwrite_existing, ec)) {
      f.error = "cannot copy the plugin's second copy into " + shown(folder) + ": " + ec.message();
      return f;
    }
    f.plugins.push_back(folder / "MorvaHealthRingCopy.asi");
  }
  if (scene.txd != txd_location::none) {
    const fs::path place = f.game / fs::u8path(txd_relative_path(scene.txd));
    fs::create_directories(place.parent_path(), ec);  // a failure shows when the copy fails
    const file::whole_file dictionary = file::read_whole(txd_file);
    if (!dictionary.ok) {
      f.error = "cannot read the texture dictionary " + shown(txd_file);
      return f;
    }
    if (!fs::copy_file(txd_file, place, fs::copy_options::overwrite_existing, ec)) {
      f.error = "cannot place the texture dictionary " + shown(txd_file) + ": " + ec.message();
      return f;
    }
    // One the game cannot parse is placed all the same: its loader answers
    // the plugin with no dictionary, which is what a run with it shows.
    txd::read_result r = txd::read(dictionary.bytes.data(), dictionary.bytes.size());
    if (r.ok) {
      f.textures = std::move(r.dict);
    } else {
      f.warning = shown(txd_file) + ": " + r.error + "; the game's loader will answer no dictionary";
    }
  }
  if (scene.ini) {
    const fs::path settings = f.game / "scripts" / overlay::settings_file_name;
    std::ofstream ini(settings, std::ios::binary);
    ini << *scene.ini;
    if (!ini) f.error = "cannot write " + shown(settings);
  }
  return f;
}

std::vector<std::vector<std::uint8_t>> site_functions() {
  std::vector<std::vector<std::uint8_t>> out;
  for (host_address site : host::addr::event_sites) out.push_back(site_function::bytes(site));
  return out;
}

// What a scenario changes before a drawing event: pedestrians hit or
// replaced, who they are, the game's clock, its HUD, modules loaded.
void prepare_frame(const scenario& scene, host_world& world, run_system& system, std::int32_t frame) {
  for (const who_change& c : scene.ped_changes) {
    if (c.frame != frame) continue;
    if (c.slot < 0) {
      world.set_targets(c.lock_target.value_or(world.lock_target()), c.aim_target.value_or(world.aim_target()));
      continue;
    }
    ped_setup w = world.who(c.slot);
    if (c.kind) w.kind = *c.kind;
    if (c.acquaintance) {
      w.respect = (*c.acquaintance)[0];
      w.like = (*c.acquaintance)[1];
      w.dislike = (*c.acquaintance)[2];
      w.hate = (*c.acquaintance)[3];
    }
    if (c.attacking) w.attacking = *c.attacking;
    if (c.attacking_slot) w.attacking_slot = *c.attacking_slot;
    if (c.group) w.group = *c.group;
    if (c.pursuing) w.pursuing = *c.pursuing;
    world.set_who(c.slot, w);
  }
  for (const module_load& m : scene.modules) {
    if (m.frame == frame) system.load_module(m.name);
  }
  for (const ped_change& c : scene.changes) {
    if (c.frame != frame) continue;
    if (c.respawn) world.respawn(c.slot);
    if (c.health) world.set_health(c.slot, *c.health);
    if (c.armour) world.set_armour(c.slot, *c.armour);
  }
  world.set_clock(scene.clock.at(frame));
  if (frame > 1) world.move_peds(scene.clock.at(frame) - scene.clock.at(frame - 1), frame);
  for (const hud_change& c : scene.hud) {
    if (c.frame != frame) continue;
    hud_state hud = world.hud();
    for (std::size_t k = 0; k < std::size(c.fields); ++k) {
      if (c.fields[k]) hud.field(k) = *c.fields[k];
    }
    world.set_hud(hud);
  }
}

run_record run_events(const scenario& scene, host_world& world, std::FILE* trace, run_system& system) {
  run_record record;
  std::uint64_t total_draws = 0, draws = 0;
  for (const scenario_event& e : scene.events) total_draws += e.kind == event_kind::draw ? e.repeat : 0;
  const std::uint64_t early_sample_at = total_draws / 10;
  const auto flush = [&] {
    write_trace(trace, world.calls);
    world.calls.clear();
  };
  for (const scenario_event& e : scene.events) {
    for (std::uint32_t n = 0; n < e.repeat; ++n) {
      switch (e.kind) {
        case event_kind::start_up:
          world.start_up();
          ++record.events[0];
          break;
        case event_kind::shutdown:
          world.shutdown();
          ++record.events[2];
          break;
        case event_kind::hold_log: system.hold_log(true); break;
        case event_kind::release_log: system.hold_log(false); break;
        case event_kind::draw: {
          prepare_frame(scene, world, system, world.frame + 1);
          const int going_down = key_going(scene, world.frame + 1, true);
          const int going_up = key_going(scene, world.frame + 1, false);
          if (going_down != 0) system.press(going_down, true);
          world.draw();
          if (going_up != 0) system.press(going_up, false);
          ++record.events[1];
          if (!world.accepted_fans().empty()) {
            record.last_drawn = world.accepted_fans();
            record.last_drawn_frame = world.frame;
          }
          if (++draws == early_sample_at) system.sample_memory(true);
          break;
        }
      }
      if (world.calls.size() > 4096) flush();
    }
  }
  flush();
  system.sample_memory(false);
  system.hold_log(false);
  return record;
}

unsigned rings_in(const std::vector<host_call>& fans) {
  unsigned rings = 0;
  for (const host_call& fan : fans) rings += txd::same_texture_name(fan.texture.c_str(), overlay::background_texture) ? 1 : 0;
  return rings;
}

void write_unload_line(std::FILE* trace, const host_world& world, const run_checks& checks) {
  std::fprintf(trace, "{\"frame\":%d,\"call\":\"unload\",\"sites_restored\":%s,\"protections_restored\":%s}\n",
               world.frame, checks.sites_restored ? "true" : "false", checks.protections_restored ? "true" : "false");
}

std::string summary_json(const host_world& world, const run_record& record, const run_checks& checks) {
  std::string per_site[3];
  const char* sep = "";
  for (int i = 0; i < 3; ++i) {
    const host_address site = host::addr::event_sites[i];
    const std::string key = std::string(sep) + "\"" + site_name(site) + "\":";
    per_site[0] += key + std::to_string(record.events[i]);
    per_site[1] += key + std::to_string(world.game_calls[i]);
    per_site[2] += key + std::to_string(foreign_module::get().runs(site));
    sep = ",";
  }
  char text[1024];
  std::snprintf(text, sizeof text,
                "{\"frames\":%d,\"last_drawn_frame\":%d,\"rings_in_last_drawn_frame\":%u,\"sites_changed_by_load\":%u,"
                "\"sites_restored\":%s,\"protections_restored\":%s,\"register_mismatches\":%u,"
                "\"render_state_mismatches\":%u,"
                "\"events\":{%s},\"game_function_runs\":{%s},\"foreign_code_runs\":{%s},"
                "\"private_bytes_early\":%zu,\"private_bytes_end\":%zu}\n",
                world.frame, record.last_drawn_frame, rings_in(record.last_drawn), checks.sites_changed_by_load,
                checks.sites_restored ? "true" : "false", checks.protections_restored ? "true" : "false",
                static_cast<unsigned>(site_function::mismatches()), world.render_state_mismatches, per_site[0].c_str(), per_site[1].c_str(),
                per_site[2].c_str(), checks.private_bytes_early, checks.private_bytes_end);
  return text;
}

std::string write_run_files(const std::filesystem::path& out_dir, const scenario& scene, const host_world& world,
                            const run_record& record, const run_checks& checks, const txd::dictionary& textures) {
  const std::vector<std::uint8_t> png = png::encode(render_preview(scene, record.last_drawn, textures));
  std::ofstream preview(out_dir / "preview.png", std::ios::binary);
  preview.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!preview.flush()) return "cannot write " + shown(out_dir / "preview.png");
  std::ofstream summary(out_dir / "summary.json", std::ios::binary);
  if (!(summary << summary_json(world, record, checks)).flush()) return "cannot write " + shown(out_dir / "summary.json");
  return {};
}

std::string run_headline(const host_world& world, const run_record& record, const run_checks& checks) {
  return "hostsim: " + std::to_string(world.frame) + " frames, " + std::to_string(rings_in(record.last_drawn)) +
         " rings in frame " + std::to_string(record.last_drawn_frame) + ", call sites " +
         (checks.sites_restored ? "restored" : "NOT restored") + ", page protections " +
         (checks.protections_restored ? "restored" : "NOT restored");
}

std::string finish_run(const scenario& scene, host_world& world, std::FILE* trace, run_system& system, run_checks& checks,
                const std::vector<std::vector<std::uint8_t>>& original, const std::function<void()>& unload_all,
                const std::function<bool()>& pages_as_before, const std::filesystem::path& out_dir,
                const txd::dictionary& textures) {
  const std::vector<std::vector<std::uint8_t>> loaded = site_functions();
  for (std::size_t i = 0; i < loaded.size(); ++i) checks.sites_changed_by_load += loaded[i] != original[i] ? 1 : 0;
  const run_record record = run_events(scene, world, trace, system);
  if (scene.refuse_restore) system.refuse_protection_of(game_image::get().running(*scene.refuse_restore));
  unload_all();
  // The game goes on after the plugins are gone.
  for (std::uint32_t i = 0; i < scene.draws_after_unload; ++i) world.draw();
  checks.sites_restored = site_functions() == original;
  checks.protections_restored = pages_as_before();
  write_unload_line(trace, world, checks);
  const bool trace_written = std::fclose(trace) == 0;
  std::string error = write_run_files(out_dir, scene, world, record, checks, textures);
  if (!trace_written) error = "cannot write " + shown(out_dir / "trace.jsonl");
  std::printf("%s\n", run_headline(world, record, checks).c_str());
  return error;
}

std::string loader_fault_message(const host_world& world) {
  return "the game faulted: its dictionary loader found the dictionary chunk of " + world.loader_faults.front() +
         ", could not read it and closed its stream twice, damaging the heap";
}

}  // namespace sim
