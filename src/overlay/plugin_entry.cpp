// The plugin's load-time initialisation. The three objects are defined in one
// translation unit so that their order is the order of definition: build
// recognition and host references, then the overlay's state with its log path,
// then the plugin object, which installs the hooks. Exit runs the reverse.
#include "host/host_services.h"
#include "overlay/plugin.h"
#include "overlay/plugin_state.h"

namespace {

[[maybe_unused]] const host::host_references& resolved_host = host::references();
[[maybe_unused]] overlay::plugin_state& overlay_state = overlay::state();
overlay::MorvaHealthRing plugin;

}  // namespace
