// How the game's code and ours call each other: cdecl, arguments on the stack
// removed by the caller; the game's member functions thiscall, the object in
// ECX and the arguments on the stack removed by the callee.
#pragma once

#define HOST_CDECL __attribute__((cdecl))
// For everything the game's code calls into: the game leaves the stack aligned
// to 4 bytes only, and SSE spills need 16.
#define HOST_ENTRY __attribute__((cdecl, force_align_arg_pointer))
#define HOST_THISCALL __attribute__((thiscall))
#define HOST_ENTRY_THISCALL __attribute__((thiscall, force_align_arg_pointer))
