// The overlay's one process-wide record.
#pragma once

#include <cstdint>
#include <string>

#include "host/renderware.h"
#include "overlay/damage_memory.h"
#include "overlay/ring_settings.h"

namespace overlay {

struct plugin_state {
  host::RwTexDictionary* ring_dictionary = nullptr;  // owned
  host::RwTexture* ring_background = nullptr;        // "hpbg", inside the dictionary
  host::RwTexture* ring_foreground = nullptr;        // "hpfg", inside the dictionary
  host::RwTexture* ring_armour = nullptr;            // "hpar", or "hpfg" without it; with ShowArmour only
  bool textures_loaded = false;
  std::int32_t frame_count = 0;
  std::int32_t peds_in_range = 0;
  std::int32_t rings_drawn = 0;
  std::int32_t projection_failed = 0;
  std::wstring log_path;  // wide: any folder the plugin lies in can hold its log
  bool log_started = false;  // by whichever handler ran first
  ring_settings settings;      // the player's, read when the log starts
  std::wstring settings_path;  // where they were read from
  bool rings_hidden = false;   // by the toggle key, or Enabled=0
  bool toggle_key_down = false;  // as seen at the last drawing event
  damage_memory damage;          // per pool slot, while an overlay follows damage
};

// Constructed on the first call, released at exit after everything created
// later (the hubs and hooks among them).
plugin_state& state();

}  // namespace overlay
