#pragma once
// SetThreadExecutionState: nothing to keep awake here; the call is logged and remembered.

#include "win32/win32types.h"

using EXECUTION_STATE = DWORD;
constexpr EXECUTION_STATE ES_SYSTEM_REQUIRED = 0x00000001;
constexpr EXECUTION_STATE ES_DISPLAY_REQUIRED = 0x00000002;
constexpr EXECUTION_STATE ES_AWAYMODE_REQUIRED = 0x00000040;
constexpr EXECUTION_STATE ES_CONTINUOUS = 0x80000000;

// Returns the previous state.
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags);
