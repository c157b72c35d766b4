#pragma once
// Checks of the formats stored with codec-compressed video and raw audio streams: nothing read from
// an archive is trusted before it has passed these.

#include "codecs/formats.h"
#include "win32/winerror.h"

#include <QString>
#include <cstddef>
#include <vector>

namespace nyx::codecs {
// ERROR_INVALID_DATA as HRESULT: a stored format that cannot be used.
constexpr HRESULT kInvalidFormat = HRESULT_FROM_WIN32(13);

constexpr DWORD kMaxFormatExtra = 1u << 20;             // codec bytes behind a BITMAPINFOHEADER
constexpr std::int64_t kMaxFramePixels = 8192LL * 8192; // largest frame area
constexpr double kMaxFrameRate = 1000.0;
// One frame in 100 s: slower cameras do not exist, and a smaller rate makes frame durations overflow.
constexpr double kMinFrameRate = 0.01;

// A header of compressed or YUY2 frames: biSize from 40 to 40 + kMaxFormatExtra, width and height
// positive, at most kMaxDimension each and kMaxFramePixels together. S_OK or kInvalidFormat with
// the reason in error (may be null).
HRESULT checkBitmapHeader(const BITMAPINFOHEADER &header, QString *error);

// A stored "VideoFormat" blob: a BITMAPINFOHEADER followed by codec bytes. A blob shorter than 40 bytes
// is read into 40 zeroed bytes; the header's biSize must lie within the blob so read (a header larger
// than its blob is refused), and the header must pass checkBitmapHeader. On success format holds the
// header and its codec bytes (biSize bytes, at least 40).
HRESULT parseVideoFormat(const BYTE *blob, std::size_t size, std::vector<BYTE> *format, QString *error);

// A stored "AudioFormat" blob: at least the 18 bytes of a WAVEFORMATEX (longer blobs are read for their
// first 18), with channels, sample rate, average byte rate and block alignment above 0.
HRESULT parseAudioFormat(const BYTE *blob, std::size_t size, WAVEFORMATEX *format, QString *error);

// A stored frame rate: finite, from kMinFrameRate to kMaxFrameRate.
HRESULT checkFrameRate(double rate, QString *error);
} // namespace nyx::codecs
