#include "overlay/hand_over.h"

#include "overlay/diagnostic_log.h"
#include "overlay/plugin.h"
#include "overlay/plugin_state.h"

namespace overlay {

hand_over hand_over_of_this_copy(const char* own_path) {
  const plugin_state& s = state();
  return hand_over{s.log_path.c_str(),
                   s.settings_path.c_str(),
                   s.rings_hidden ? 1u : 0u,
                   s.toggle_key_down ? 1u : 0u,
                   own_path,
                   s.ring_dictionary,
                   s.ring_background,
                   s.ring_foreground,
                   s.dictionary_file.c_str(),
                   s.dictionary_path.c_str(),
                   s.game_thread};
}

void handed_over() {
  plugin_state& s = state();
  s.ring_dictionary = nullptr;
  s.ring_background = nullptr;
  s.ring_foreground = nullptr;
  s.ring_armour = nullptr;
  s.textures_loaded = false;
}

void take_hand_over(const hand_over& from, const std::string& own_path) {
  plugin_state& s = state();
  if (s.game_thread == 0) s.game_thread = from.game_thread;
  if (from.dictionary != nullptr && from.background != nullptr && from.foreground != nullptr) {
    s.ring_dictionary = from.dictionary;
    s.ring_background = from.background;
    s.ring_foreground = from.foreground;
    s.textures_loaded = true;
  }
  if (from.dictionary_file != nullptr && *from.dictionary_file != L'\0' && from.dictionary_path != nullptr) {
    s.dictionary_file = s.handed_dictionary_file = from.dictionary_file;
    s.dictionary_path = s.handed_dictionary_path = from.dictionary_path;
  }
  // Nothing started there yet: this copy's own first event starts it all.
  if (from.log_path == nullptr || *from.log_path == L'\0') return;
  s.log_path = from.log_path;
  s.log_started = true;
  log_line("the copy at %s was unloaded; the copy at %s draws the rings from now on",
           from.leaving_path ? from.leaving_path : "", own_path.c_str());
  s.hand_over = pending_hand_over{true, from.settings_path ? std::wstring(from.settings_path) : std::wstring(),
                                  from.rings_hidden != 0, from.toggle_key_down != 0};
}

void finish_hand_over() {
  plugin_state& s = state();
  if (!s.hand_over.waiting) return;
  const pending_hand_over pending = s.hand_over;
  s.hand_over = pending_hand_over{};
  take_settings(pending.settings_path);
  s.rings_hidden = pending.rings_hidden;
  s.toggle_key_down = pending.toggle_key_down;
}

}  // namespace overlay
