// The ring's two textures, "hpbg" and "hpfg", from the first "DEVIZAR.txd"
// that holds both, and with ShowArmour the armour arc's "hpar" from it.
#pragma once

#include "host/host_services.h"

namespace overlay {

// True when a dictionary with both textures is now held in the plugin state.
bool load_ring_textures();

// The armour arc's texture under the settings: none without ShowArmour,
// else the one given, or "hpar" of the dictionary, or the foreground.
host::RwTexture* armour_texture(host::RwTexDictionary* dictionary, host::RwTexture* foreground,
                                host::RwTexture* armour = nullptr);

// Listing callback handed to the game: logs one texture's name.
host::RwTexture* HOST_ENTRY log_texture_name(host::RwTexture* texture, void* data);

}  // namespace overlay
