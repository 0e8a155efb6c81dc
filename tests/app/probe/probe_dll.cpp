// Probe libraries for the drop intake's library check: each variant exports a
// different set of the codec names. Loading one for real runs its entry point,
// which sets the variable PROBE_MARKER names, so a test sees whether code ran.

#include <windows.h>

#define PROBE_API extern "C" __declspec(dllexport)

#ifdef PROBE_COMPRESS
PROBE_API int compress(void*, unsigned long*, const void*, unsigned long) { return -2; }
#endif
#ifdef PROBE_UNCOMPRESS
PROBE_API int uncompress(void*, unsigned long*, const void*, unsigned long) { return -2; }
#endif
PROBE_API int probe_version() { return 1; }  // exports, but none of the codec names

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableA(PROBE_MARKER, "attached");
  return TRUE;
}
