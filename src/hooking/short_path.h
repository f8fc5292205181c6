// The short (8.3) form of a path, where the volume keeps one.
#pragma once

#include <string>

namespace hooking {

// GetShortPathNameW, asked again with the size it answers when the first
// buffer is too small (a short form can be longer than the long one: "Я"
// is "D4F1~1"). A volume without short names gives the long form back. False
// when there is no answer at all.
bool short_path(const std::wstring& path, std::wstring* out);

}  // namespace hooking
