#pragma once
// The decoders' side of the test hooks.

#include "codecs/codechooks.h"

namespace nyx::codecs::hooks {
// The hook's answer for the time; S_OK without a hook.
HRESULT consultDecodeHook(LONGLONG time);
void countPicture();
void countAccessUnit();
} // namespace nyx::codecs::hooks
