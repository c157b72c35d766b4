// Stored formats as an archive may hold them, then a frame decompressed with the format when it passes:
// the checks must refuse what cannot be used and the decompressor must never write past its output.

#include "codecs/storedformats.h"
#include "codecs/vfw.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
constexpr std::size_t kGuard = 4096;
constexpr BYTE kGuardByte = 0xA5;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace nyx::codecs;
    if (size < 2)
        return 0;
    // First byte: the length of the format blob; the rest after it: one compressed frame.
    const std::size_t formatSize = std::min<std::size_t>(data[0] * 2u, size - 1);
    const BYTE *blob = data + 1;
    const BYTE *frame = blob + formatSize;
    const std::size_t frameSize = size - 1 - formatSize;

    WAVEFORMATEX wave;
    parseAudioFormat(blob, formatSize, &wave, nullptr);
    if (formatSize >= sizeof(double)) {
        double rate;
        std::memcpy(&rate, blob, sizeof rate);
        checkFrameRate(rate, nullptr);
    }

    std::vector<BYTE> format;
    if (FAILED(parseVideoFormat(blob, formatSize, &format, nullptr)))
        return 0;
    auto *in = reinterpret_cast<BITMAPINFOHEADER *>(format.data());
    if (static_cast<std::int64_t>(in->biWidth) * in->biHeight > 256 * 256)
        return 0; // keeps each run fast; the checks above saw the size
    BITMAPINFOHEADER out{};
    out.biSize = sizeof out;
    out.biWidth = in->biWidth;
    out.biHeight = in->biHeight;
    out.biPlanes = 1;
    out.biBitCount = 16;
    out.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    HIC codec = ICLocate(ICTYPE_VIDEO, in->biCompression, in, &out, ICMODE_DECOMPRESS);
    if (!codec)
        return 0;
    if (ICDecompressBegin(codec, in, &out) == ICERR_OK) {
        // libavcodec and libswscale carry no sanitizer checks: a guard behind the output catches their
        // writes past it.
        const std::size_t outputSize = static_cast<std::size_t>(out.biWidth) * out.biHeight * 2;
        std::vector<BYTE> yuy2(outputSize + kGuard, kGuardByte);
        std::vector<BYTE> bytes(frame, frame + frameSize);
        in->biSizeImage = static_cast<DWORD>(bytes.size());
        ICDecompress(codec, 0, in, bytes.data(), &out, yuy2.data());
        for (std::size_t i = outputSize; i < yuy2.size(); ++i)
            if (yuy2[i] != kGuardByte) {
                if (getenv("FUZZ_DEBUG"))
                    fprintf(stderr, "guard byte %zu of output %zu (%dx%d) changed\n", i, outputSize,
                            out.biWidth, out.biHeight);
                std::abort();
            }
    }
    ICClose(codec);
    return 0;
}
