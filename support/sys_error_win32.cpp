#include "support/sys_error.h"

#include <windows.h>

uint32_t GetSystemError() { return GetLastError(); }
void SetSystemError(uint32_t code) { SetLastError(code); }
