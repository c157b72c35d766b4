#pragma once
// Real H.264 access units for the recording tests, encoded here with libx264 (through libavcodec),
// and the media samples and types that carry them.

#include "com/comptr.h"
#include "mf/mf.h"

#include <QByteArray>
#include <QVector>

namespace mediatest {
struct EncodedFrame
{
    QByteArray bytes;
    bool key = false;
};

constexpr LONGLONG kFrameDuration = 400000; // 25 fps

// count frames of width x height at 25 fps with a key frame every 25 frames; bitRate 0 lets the
// encoder choose. Empty on failure (the test then fails).
QVector<EncodedFrame> encodeH264(int width, int height, int count, int bitRate = 0);

CComPtr<IMFMediaType> h264Type(UINT32 width, UINT32 height);
// PCM (16-bit) or float (32-bit) stereo at 48 kHz, every sample independent.
CComPtr<IMFMediaType> audioType(bool isFloat);
// A sample with the bytes, time and duration; clean point when key.
CComPtr<IMFSample> makeSample(const QByteArray &bytes, LONGLONG time, LONGLONG duration, bool key);
// Audio payload of one 20 ms block: deterministic bytes.
QByteArray audioBlock(int index, bool isFloat);
} // namespace mediatest
