// How the game's code and ours call each other: cdecl, arguments on the stack
// removed by the caller.
#pragma once

#define HOST_CDECL __attribute__((cdecl))
// For everything the game's code calls into: the game leaves the stack aligned
// to 4 bytes only, and SSE spills need 16.
#define HOST_ENTRY __attribute__((cdecl, force_align_arg_pointer))
