// A plugin that writes into the game's code without asking VirtualProtect
// first, as a careless one would: in a game whose code is read-execute only,
// its load faults.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) *reinterpret_cast<volatile unsigned char*>(0x53E293) = 0x90;
  return TRUE;
}
