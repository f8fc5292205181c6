// The plugin module's DllMain, run by the C runtime's entry before the
// module's static objects are destroyed: it tells the seam whether this
// detach is FreeLibrary's (the game and its engine go on) or the process's
// end (the engine is gone).
#include <windows.h>

#include "platform/os.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH) os::note_process_detach(reserved == nullptr);
  return TRUE;
}
