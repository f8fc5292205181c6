// The plugin object and its three handlers.
#pragma once

namespace overlay {

// Registers the handlers with the start-up, drawing and shutdown events,
// which installs the three call hooks.
class MorvaHealthRing {
 public:
  MorvaHealthRing();
};

void on_start_up();
void on_draw();
void on_shutdown();

}  // namespace overlay
