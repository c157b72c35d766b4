#pragma once
// The calling thread's last error value.

#include "win32/win32types.h"

DWORD GetLastError();
void SetLastError(DWORD error);
