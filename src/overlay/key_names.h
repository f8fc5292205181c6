// Names of the keys a player may give for the toggle key.
#pragma once

#include <string>

namespace overlay {

// The virtual-key code of a key name, in any letter case: F1-F12, A-Z, 0-9,
// NumPad0-NumPad9, Insert, Delete, Home, End, PageUp, PageDown, or a code
// from 0x01 to 0xFE. 0 for anything else.
int key_code(const std::string& name);

}  // namespace overlay
