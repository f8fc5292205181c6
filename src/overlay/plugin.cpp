#include "overlay/plugin.h"

#include "hooking/events/event_hub.h"
#include "hooking/host_version.h"
#include "host/host_services.h"
#include "overlay/diagnostic_log.h"
#include "overlay/draw_pass.h"
#include "overlay/plugin_state.h"
#include "overlay/ring_textures.h"

namespace overlay {
namespace {

void release_ring_textures() {
  plugin_state& s = state();
  if (s.ring_dictionary) host::RwTexDictionaryDestroy(s.ring_dictionary);
  s.ring_dictionary = nullptr;
  s.ring_foreground = nullptr;
  s.ring_background = nullptr;
  s.textures_loaded = false;
}

}  // namespace

MorvaHealthRing::MorvaHealthRing() {
  const std::uint32_t build = hooking::host_version();
  if (!hooking::served_version(build)) log_unsupported_build(build);
  events::start_up_hub& start_up = events::start_up_event();
  start_up.add_handler(start_up.after, &on_start_up);
  events::drawing_hub& drawing = events::drawing_event();
  drawing.add_handler(drawing.after, &on_draw);
  events::shutdown_hub& shutdown = events::shutdown_event();
  shutdown.add_handler(shutdown.before, &on_shutdown);
}

void on_start_up() {
  start_log();
  // A dictionary still held from an earlier start-up would otherwise be lost
  // for the rest of the process.
  if (state().ring_dictionary) release_ring_textures();
  state().textures_loaded = load_ring_textures();
}

void on_draw() { draw_pass(); }

void on_shutdown() { release_ring_textures(); }

}  // namespace overlay
