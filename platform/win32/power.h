#pragma once
// SetThreadExecutionState: a program that asks for the system to stay up holds logind's "sleep"
// and "idle" inhibitor on the system bus for as long as it asks; without a system bus (or
// logind) it says so once and runs on.

#include "win32/win32types.h"

using EXECUTION_STATE = DWORD;
constexpr EXECUTION_STATE ES_SYSTEM_REQUIRED = 0x00000001;
constexpr EXECUTION_STATE ES_DISPLAY_REQUIRED = 0x00000002;
constexpr EXECUTION_STATE ES_AWAYMODE_REQUIRED = 0x00000040;
constexpr EXECUTION_STATE ES_CONTINUOUS = 0x80000000;

// Returns the previous state. A continuous state that requires the system or the display takes
// the inhibitor (once the application object exists: the bus needs it); ES_CONTINUOUS alone
// gives it back.
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags);
