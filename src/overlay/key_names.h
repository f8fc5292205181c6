// Names of the keys a player may give for the toggle key.
#pragma once

#include <optional>
#include <string>

namespace overlay {

// Whether two ASCII names are the same but for letter case, as the settings
// file's sections, keys and key names are read.
bool same_name(const std::string& a, const char* b);

// The virtual-key code of a key name, in any letter case: F1-F12, A-Z, 0-9,
// NumPad0-NumPad9, Insert, Delete, Home, End, PageUp, PageDown, or a code
// from 0x01 to 0xFE. None for anything else.
std::optional<int> key_code(const std::string& name);

}  // namespace overlay
