#pragma once
// Test hooks of the decoders.

#include "win32/win32types.h"
#include "win32/winerror.h"

#include <cstdint>
#include <functional>

namespace nyx::codecs::hooks {
// Asked first by every decodeFrame of every H.264 decoder in the process, with the requested time;
// a result other than S_OK is answered at once, without touching the decoder state.
using DecodeHook = std::function<HRESULT(LONGLONG time)>;
void setDecodeHook(DecodeHook hook);

// Pictures libavcodec has produced for the H.264 decoders of this process.
std::uint64_t decodedPictures();
// Access units the H.264 decoders of this process have handed to libavcodec to decode.
std::uint64_t decodedAccessUnits();

class ScopedDecodeHook
{
public:
    explicit ScopedDecodeHook(DecodeHook hook) { setDecodeHook(std::move(hook)); }
    ~ScopedDecodeHook() { setDecodeHook({}); }
    ScopedDecodeHook(const ScopedDecodeHook &) = delete;
    ScopedDecodeHook &operator=(const ScopedDecodeHook &) = delete;
};
} // namespace nyx::codecs::hooks
