// The plugin's load-time initialisation. The objects are defined in one
// translation unit so that their order is the order of definition: build
// recognition and host references, the overlay's state with its log path,
// the guard that gives the dictionary back at unload, the record of other
// copies of the plugin, then the plugin object, which
// installs the hooks. Exit runs the reverse: the hooks give their sites back,
// what did not go well is logged, the record of copies hands the drawing to
// another copy, and a dictionary not handed over goes back to the game.
#include "host/host_services.h"
#include "overlay/plugin.h"
#include "overlay/plugin_copies.h"
#include "overlay/plugin_state.h"

namespace {

[[maybe_unused]] const host::host_references& resolved_host = host::references();
[[maybe_unused]] overlay::plugin_state& overlay_state = overlay::state();
// Destroyed after the hand-over to another copy, which takes the dictionary.
overlay::exit_action unload(&overlay::on_unload);
overlay::copies_guard copies;
// Destroyed after the hooks, which are made while the plugin object is.
overlay::exit_action release_log(&overlay::log_site_releases);
overlay::MorvaHealthRing plugin;

}  // namespace
