#pragma once
// The control interface of the archive media source, as the playback node uses it.

#include "com/unknown.h"
#include "win32/win32types.h"

class FrameHistory;

// {7D5FDC54-64CF-4C1E-B30A-11F44BABA46C}
constexpr IID IID_IRewindSource = {
    0x7D5FDC54, 0x64CF, 0x4C1E, {0xB3, 0x0A, 0x11, 0xF4, 0x4B, 0xAB, 0xA4, 0x6C}};

struct IRewindSource : public IUnknown
{
    // Moves the end of the played range (FILETIME); applied on the stream's queue. E_POINTER
    // without a stream.
    virtual HRESULT setEndTime(LONGLONG end) = 0;
    // The frames around the current position; null without a stream.
    virtual FrameHistory *frameHistory() = 0;
    virtual void setQuality(double quality) = 0;
};

NYX_DECLARE_IID(IRewindSource, IID_IRewindSource)
