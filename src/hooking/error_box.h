// The framework's one report to the player.
#pragma once

namespace hooking {

// printf-style message in an error box owned by the active window.
void show_error_box(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace hooking
