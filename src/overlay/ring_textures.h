// The ring's two textures, "hpbg" and "hpfg", from the first "DEVIZAR.txd"
// that holds both, and with ShowArmour the armour arc's "hpar" from it.
#pragma once

#include "host/host_services.h"

namespace overlay {

// True when a dictionary with both textures is now held in the plugin state.
bool load_ring_textures();

// Listing callback handed to the game: logs one texture's name.
host::RwTexture* HOST_ENTRY log_texture_name(host::RwTexture* texture, void* data);

}  // namespace overlay
