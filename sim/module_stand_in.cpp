// A DLL that does nothing: loaded under another module's name (a
// multiplayer client's), so that the process holds a module of that name.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
