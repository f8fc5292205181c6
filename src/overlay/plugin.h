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

// Runs an action when it is destroyed: at unload or exit, in the place its
// definition gives it among the load-time objects.
class exit_action {
 public:
  explicit exit_action(void (*action)()) : action_(action) {}
  exit_action(const exit_action&) = delete;
  exit_action& operator=(const exit_action&) = delete;
  ~exit_action() { action_(); }

 private:
  void (*action_)();
};

// At unload by FreeLibrary, gives the dictionary back to the game.
void on_unload();
// Logs a site that could not be given back, or whose pin was refused; run
// after the hooks are gone (also those installed on taking over from
// another copy).
void log_site_releases();

// Reads the player's settings from path, logs what was read and applies it.
void take_settings(const std::wstring& path);

void on_start_up();
void on_draw();
void on_shutdown();

}  // namespace overlay
