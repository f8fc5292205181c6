// The plugin object and its three handlers.
#pragma once

#include <string>

namespace overlay {

// Registers the handlers with the start-up, drawing and shutdown events,
// which installs the three call hooks.
class MorvaHealthRing {
 public:
  MorvaHealthRing();
};

// Defined after the plugin object, so destroyed before it: at unload by
// FreeLibrary it gives the dictionary back to the game.
struct unload_guard {
  unload_guard() = default;
  unload_guard(const unload_guard&) = delete;
  unload_guard& operator=(const unload_guard&) = delete;
  ~unload_guard();
};
void on_unload();

// Defined before the plugin object, so destroyed after the hooks have given
// their sites back (also those installed on taking over from another copy):
// logs a site that could not be given back, or whose pin was refused.
struct release_log_guard {
  release_log_guard() = default;
  release_log_guard(const release_log_guard&) = delete;
  release_log_guard& operator=(const release_log_guard&) = delete;
  ~release_log_guard();
};
void log_site_releases();

// Reads the player's settings from path, logs what was read and applies it.
void take_settings(const std::wstring& path);

void on_start_up();
void on_draw();
void on_shutdown();

}  // namespace overlay
