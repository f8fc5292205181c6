// The record through which copies of the plugin in one process talk to each
// other. Every copy lays it out the same way; only plain data and cdecl entry
// points cross from one copy to another.
#pragma once

#include <cstdint>

#include "hooking/calling_convention.h"

namespace overlay {

constexpr std::uint32_t link_magic = 0x3252484D;  // "MHR2": the hand-over carries wide paths

// What the copy that leaves hands to the one that draws from then on, so
// that the rings go on exactly as they were.
struct hand_over {
  const wchar_t* log_path;       // where the log goes on; empty when it never started
  const wchar_t* settings_path;  // the settings file the leaving copy read
  std::uint32_t rings_hidden;    // 0 or 1, as the player last left them
  std::uint32_t toggle_key_down;
  const char* leaving_path;      // the leaving copy's file, for the log
};

struct copy_link {
  std::uint32_t magic;
  const char* path;
  void(HOST_CDECL* stood_down)(copy_link* other);
  void(HOST_CDECL* leaving)(copy_link* other);
  void(HOST_CDECL* take_over)(copy_link** others, std::uint32_t count, const hand_over* from);
};

// The process's environment names the drawing copy's link, with the process
// id: a child process inherits the text, not the copy. The address is read
// only when it lies in readable memory of a loaded module: the text may be a
// parent's, or stale.
copy_link* read_claim();
// False when the environment would not take it.
bool write_claim(const copy_link* link);

}  // namespace overlay
