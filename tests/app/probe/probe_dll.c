/* Probe libraries for the drop intake's library check. Each variant exports
 * a different set of the codec names; the functions are never meant to be
 * called by the check. Loading a probe for real runs its entry point, which
 * sets the environment variable named by PROBE_MARKER in the loading process,
 * so a test can tell whether the check ran any code of the library. */

#include <windows.h>

#define PROBE_API __declspec(dllexport)

#ifdef PROBE_COMPRESS
PROBE_API int compress(unsigned char* destination, unsigned long* destinationLength,
                       const unsigned char* source, unsigned long sourceLength) {
  (void)destination;
  (void)destinationLength;
  (void)source;
  (void)sourceLength;
  return -2; /* Z_STREAM_ERROR */
}
#endif

#ifdef PROBE_UNCOMPRESS
PROBE_API int uncompress(unsigned char* destination, unsigned long* destinationLength,
                         const unsigned char* source, unsigned long sourceLength) {
  (void)destination;
  (void)destinationLength;
  (void)source;
  (void)sourceLength;
  return -2;
}
#endif

/* Something to export when no codec name is: a library with exports, but
 * not the right ones. */
PROBE_API int probe_version(void) { return 1; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableA(PROBE_MARKER, "attached");
  return TRUE;
}
