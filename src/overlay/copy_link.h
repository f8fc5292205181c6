// The record through which copies of the plugin in one process talk to each
// other. Every copy lays it out the same way; only plain data and cdecl entry
// points cross from one copy to another.
#pragma once

#include <cstdint>

#include "hooking/calling_convention.h"
#include "host/renderware.h"

namespace overlay {

// Every release keeps the record's first three words, magic, version and
// size, and reads them first: a copy recognises another release's claim and
// stands down for it, and talks to it only where it knows its version.
constexpr std::uint32_t link_magic = 0x4C52484D;  // "MHRL"
constexpr std::uint32_t link_version = 1;

// What the copy that leaves hands to the one that draws from then on, so
// that the rings go on exactly as they were.
struct hand_over {
  const wchar_t* log_path;       // where the log goes on; empty when it never started
  const wchar_t* settings_path;  // the settings file the leaving copy read
  std::uint32_t rings_hidden;    // 0 or 1, as the player last left them
  std::uint32_t toggle_key_down;
  const char* leaving_path;      // the leaving copy's file, for the log
  // The dictionary the leaving copy held, now the taker's, or null; and
  // where it was found (also when none is handed over).
  host::RwTexDictionary* dictionary;
  host::RwTexture* background;
  host::RwTexture* foreground;
  const wchar_t* dictionary_file;
  const char* dictionary_path;
  std::uint32_t game_thread;  // the thread the game runs its events on, 0 before any
};

struct copy_link {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t size;
  const char* path;
  void(HOST_CDECL* stood_down)(copy_link* other);
  void(HOST_CDECL* leaving)(copy_link* other);
  void(HOST_CDECL* take_over)(copy_link** others, std::uint32_t count, const hand_over* from);
};

// The process's environment names the drawing copy's link, with the process
// id: a child process inherits the text, not the copy. The address is read
// only when it lies in readable memory of a loaded module: the text may be a
// parent's, or stale. Any release's claim counts.
copy_link* read_claim();
// Whether the claimant's entry points are this release's: the record is
// read beyond its first three words only then.
bool speaks_this_version(const copy_link* link);
// False when the environment would not take it.
bool write_claim(const copy_link* link);

}  // namespace overlay
