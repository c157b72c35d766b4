// Feeds arbitrary bytes to the attribute blob parser. A blob that is accepted must serialise
// back to exactly the bytes it was read from; a refused one must leave the target empty.

#include "mf/mfapi.h"

#include "com/comptr.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CComPtr<IMFAttributes> attributes;
    if (FAILED(MFCreateAttributes(&attributes, 0)))
        std::abort();
    if (size > 0xFFFFFFFFu)
        return 0;
    const HRESULT hr = MFInitAttributesFromBlob(attributes, data, UINT(size));
    UINT32 count = 0;
    attributes->GetCount(&count);
    if (FAILED(hr)) {
        if (count != 0)
            std::abort();
        return 0;
    }
    // Accepted: the declared total length is at offset 8.
    const std::size_t total = std::size_t(data[8]) | (std::size_t(data[9]) << 8) |
                              (std::size_t(data[10]) << 16) | (std::size_t(data[11]) << 24);
    UINT32 blobSize = 0;
    if (FAILED(MFGetAttributesAsBlobSize(attributes, &blobSize)) || blobSize != total)
        std::abort();
    std::vector<BYTE> blob(blobSize);
    if (FAILED(MFGetAttributesAsBlob(attributes, blob.data(), blobSize)))
        std::abort();
    if (std::memcmp(blob.data(), data, total) != 0)
        std::abort();
    return 0;
}
