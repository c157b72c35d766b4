#include "codecs/storedformats.h"

#include "codecs/icolorconverter.h"

#include <cmath>
#include <cstring>

namespace nyx::codecs {
namespace {
HRESULT refuse(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return kInvalidFormat;
}
} // namespace

HRESULT checkBitmapHeader(const BITMAPINFOHEADER &header, QString *error)
{
    if (header.biSize < sizeof(BITMAPINFOHEADER) ||
        header.biSize - sizeof(BITMAPINFOHEADER) > kMaxFormatExtra)
        return refuse(error, QStringLiteral("Video format header size %1 out of range").arg(header.biSize));
    if (header.biWidth <= 0 || header.biHeight <= 0)
        return refuse(error, QStringLiteral("Video format size %1 x %2 not positive")
                                 .arg(header.biWidth)
                                 .arg(header.biHeight));
    if (static_cast<UINT32>(header.biWidth) > kMaxDimension ||
        static_cast<UINT32>(header.biHeight) > kMaxDimension ||
        static_cast<std::int64_t>(header.biWidth) * header.biHeight > kMaxFramePixels)
        return refuse(
            error,
            QStringLiteral("Video format size %1 x %2 too large").arg(header.biWidth).arg(header.biHeight));
    return S_OK;
}

HRESULT parseVideoFormat(const BYTE *blob, std::size_t size, std::vector<BYTE> *format, QString *error)
{
    if (!format || (!blob && size))
        return E_POINTER;
    std::vector<BYTE> bytes(std::max(size, sizeof(BITMAPINFOHEADER)), 0);
    if (size)
        std::memcpy(bytes.data(), blob, size);
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.biSize > bytes.size())
        return refuse(error,
                      QStringLiteral("Video format header of %1 bytes is larger than its blob of %2 bytes")
                          .arg(header.biSize)
                          .arg(size));
    const HRESULT hr = checkBitmapHeader(header, error);
    if (FAILED(hr))
        return hr;
    bytes.resize(header.biSize);
    *format = std::move(bytes);
    return S_OK;
}

HRESULT parseAudioFormat(const BYTE *blob, std::size_t size, WAVEFORMATEX *format, QString *error)
{
    if (!format || (!blob && size))
        return E_POINTER;
    if (size < sizeof(WAVEFORMATEX))
        return refuse(error, QStringLiteral("Audio format of %1 bytes is shorter than 18").arg(size));
    WAVEFORMATEX wave;
    std::memcpy(&wave, blob, sizeof wave);
    if (!wave.nChannels || !wave.nSamplesPerSec || !wave.nAvgBytesPerSec || !wave.nBlockAlign)
        return refuse(error, QStringLiteral("Audio format with %1 channels, %2 samples/s, %3 bytes/s, "
                                            "alignment %4 is not usable")
                                 .arg(wave.nChannels)
                                 .arg(wave.nSamplesPerSec)
                                 .arg(wave.nAvgBytesPerSec)
                                 .arg(wave.nBlockAlign));
    *format = wave;
    return S_OK;
}

HRESULT checkFrameRate(double rate, QString *error)
{
    if (!std::isfinite(rate) || rate < kMinFrameRate || rate > kMaxFrameRate)
        return refuse(error, QStringLiteral("Frame rate %1 out of range").arg(rate));
    return S_OK;
}
} // namespace nyx::codecs
