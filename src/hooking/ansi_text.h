// Wide text in the system's ANSI code page, the narrow text the game's own
// file functions take.
#pragma once

#include <string>

namespace hooking {

// The whole text, or false when a character has no exact counterpart there.
bool to_ansi(const std::wstring& wide, std::string* narrow);

// ASCII text as wide text (the plugin's own file names).
std::wstring widened(const char* ascii);

// The same for reading only: '?' (or the code page's look-alike) where a
// character has no counterpart.
std::string ansi_for_display(const std::wstring& wide);

}  // namespace hooking
