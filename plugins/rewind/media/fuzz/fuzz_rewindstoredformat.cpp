// The attribute block of a stream record written by another recorder, as the codec and audio streams
// read it: "FrameRate", "VideoFormat" with "VideoCodecState", "AudioFormat". Whatever the block holds,
// the reads stay within it and what passes is usable (sizes positive and bounded, rates above 0).

#include "rewindstoredformat.h"

#include "archive/archiverecords.h"
#include "attributestore.h"
#include "codecs/storedformats.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > nyx::archive::kAttributeBlockSize)
        return 0;
    // The block as the record holds it: the input, the rest zero.
    std::vector<BYTE> block(nyx::archive::kAttributeBlockSize, 0);
    std::memcpy(block.data(), data, size);
    CComPtr<IAttributeStore> store;
    if (FAILED(
            nyx::archive::AttributeStore::create(IID_IAttributeStore, reinterpret_cast<void **>(&store))) ||
        FAILED(store->Bind(block.data(), static_cast<DWORD>(block.size()), FALSE)))
        return 0;

    StoredCodecFormat codec;
    if (SUCCEEDED(readCodecFormat(store, &codec, nullptr))) {
        const BITMAPINFOHEADER *h = codec.header();
        if (!(codec.frameRate >= nyx::codecs::kMinFrameRate &&
              codec.frameRate <= nyx::codecs::kMaxFrameRate) ||
            h->biWidth <= 0 || h->biHeight <= 0 || h->biWidth % 2 || h->biHeight % 2 ||
            codec.input.size() < h->biSize + codec.stateSize || h->biSize < sizeof *h)
            std::abort();
        // Touch every byte handed on: a read past the end shows here.
        unsigned sum = 0;
        for (BYTE b : codec.input)
            sum += b;
        (void)sum;
    }
    WAVEFORMATEX wave{};
    if (SUCCEEDED(readAudioFormat(store, &wave, nullptr)) &&
        (wave.nAvgBytesPerSec == 0 || wave.nChannels == 0))
        std::abort();
    return 0;
}
