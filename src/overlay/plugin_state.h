// The overlay's one process-wide record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/renderware.h"
#include "overlay/damage_memory.h"
#include "overlay/ring_batch.h"
#include "overlay/ring_decal.h"
#include "overlay/ring_ground.h"
#include "overlay/ring_settings.h"
#include "platform/os.h"

namespace overlay {

// A place whose file was refused as no dictionary the game can read: not
// read again while its size and time of last write stay as they were.
struct refused_dictionary {
  std::wstring file;
  os::file_facts facts;
  std::string why;
};

// What a copy that takes over from an unloaded one does at its next drawing
// event, on the game's thread: read the leaving copy's settings file, then
// show or hide the rings as the player last left them.
struct pending_hand_over {
  bool waiting = false;
  std::wstring settings_path;
  bool rings_hidden = false;
  bool toggle_key_down = false;
};

struct plugin_state {
  host::RwTexDictionary* ring_dictionary = nullptr;  // owned
  host::RwTexture* ring_background = nullptr;        // "hpbg", inside the dictionary
  host::RwTexture* ring_foreground = nullptr;        // "hpfg", inside the dictionary
  host::RwTexture* ring_armour = nullptr;            // "hpar", or "hpfg" without it; with ShowArmour only
  bool textures_loaded = false;
  std::wstring dictionary_file;  // where the held dictionary was found
  std::string dictionary_path;   // and the path the game's loader was handed
  // Where a copy that handed the drawing over found its dictionary: looked
  // at first when none was handed over with it.
  std::wstring handed_dictionary_file;
  std::string handed_dictionary_path;
  refused_dictionary refused[5];  // by place, the handed one first
  std::uint32_t game_thread = 0;  // the thread of the first event: the game's
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
  bool multiplayer_found = false;  // a multiplayer client was found loaded
  std::int32_t next_client_check = 1;  // the frame that looks for one next
  damage_memory damage;          // per pool slot, while an overlay follows damage
  ground_memory ground;          // per pool slot: the ground under its pedestrian
  std::vector<ring_plan> plans;       // the frame's rings, sized to the pool
  std::vector<std::uint32_t> ground_order;  // of the plans, as they ask for their ground
  decal_mesh decal;                   // a fan cut along its ground, before it joins a batch
  ring_batch batch;
  pending_hand_over hand_over;
};

// Constructed on the first call, released at exit after everything created
// later (the hubs and hooks among them).
plugin_state& state();

}  // namespace overlay
