// The names of the product's files and textures, for the plugin and for the
// simulator, the tools and the tests that stand around it.
#pragma once

namespace overlay {

constexpr const char* plugin_file_name = "MorvaHealthRing.asi";
constexpr const char* log_file_name = "MorvaHealthRing.log";
constexpr const char* settings_file_name = "MorvaHealthRing.ini";
constexpr const char* dictionary_file_name = "DEVIZAR.txd";

// Where the dictionary is looked for, in this order: joined to the plugin's
// folder, then as the game opens paths, relative to its current folder.
constexpr const char* dictionary_beside_plugin[] = {"DEVIZAR.txd", "models\\txd\\DEVIZAR.txd"};
constexpr const char* dictionary_relative_to_game[] = {"modloader\\Morva Health\\models\\txd\\DEVIZAR.txd",
                                                       "models\\txd\\DEVIZAR.txd"};

constexpr const char* background_texture = "hpbg";
constexpr const char* foreground_texture = "hpfg";
constexpr const char* armour_texture_name = "hpar";

}  // namespace overlay
