#include "overlay/hand_over.h"

#include "overlay/diagnostic_log.h"
#include "overlay/plugin.h"
#include "overlay/plugin_state.h"

namespace overlay {

hand_over hand_over_of_this_copy(const char* own_path) {
  const plugin_state& s = state();
  return hand_over{s.log_path.c_str(), s.settings_path.c_str(), s.rings_hidden ? 1u : 0u,
                   s.toggle_key_down ? 1u : 0u, own_path};
}

void take_hand_over(const hand_over& from, const std::string& own_path) {
  // Nothing started there yet: this copy's own first event starts it all.
  if (from.log_path == nullptr || *from.log_path == L'\0') return;
  plugin_state& s = state();
  s.log_path = from.log_path;
  s.log_started = true;
  log_line("the copy at %s was unloaded; the copy at %s draws the rings from now on",
           from.leaving_path ? from.leaving_path : "", own_path.c_str());
  take_settings(from.settings_path ? std::wstring(from.settings_path) : std::wstring());
  s.rings_hidden = from.rings_hidden != 0;
  s.toggle_key_down = from.toggle_key_down != 0;
}

}  // namespace overlay
