#pragma once
// Between the engines' frames and Media Foundation samples and media types.

#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/nv12frame.h"

namespace nyx::multimedia {

CComPtr<IMFMediaType> nv12MediaType(int width, int height, int rateNumerator, int rateDenominator);
CComPtr<IMFMediaType> h264MediaType(int width, int height, int rateNumerator, int rateDenominator);
CComPtr<IMFMediaType> pcmMediaType(int sampleRate, int channels);

// A sample holding a copy of the bytes, with the given time and duration (100 ns).
CComPtr<IMFSample> sampleFromBytes(const QByteArray &bytes, qint64 time, qint64 duration);
// A sample over the frame's bytes, shared, not copied: its buffer is for reading only.
CComPtr<IMFSample> sampleFromFrame(const Nv12Frame &frame);
// An H.264 picture as a sample, marked as a clean point when it is a key frame.
CComPtr<IMFSample> sampleFromPacket(const H264Packet &packet);
// The bytes of a sample (all buffers, in order); a sample made from a frame gives its bytes shared.
QByteArray sampleBytes(IMFSample *sample);
// An NV12 frame of the type's frame size from a sample; null when the sizes do not agree.
Nv12Frame frameFromSample(IMFSample *sample, IMFMediaType *type);

} // namespace nyx::multimedia
