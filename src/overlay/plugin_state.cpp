#include "overlay/plugin_state.h"

namespace overlay {

plugin_state& state() {
  static plugin_state record;
  return record;
}

}  // namespace overlay
