#pragma once
// The formats that other recorders keep in an archive stream's attribute block, read and checked
// before the decoding streams use them.

#include "archive/iarchivestream.h"
#include "archive/iattributestore.h"
#include "codecs/formats.h"
#include "com/comptr.h"

#include <QString>
#include <memory>
#include <vector>

// The stream's record with its attribute block bound to an attribute store.
class StoredAttributes
{
public:
    HRESULT open(IArchiveStream *stream);
    IAttributeStore *store() const { return m_store; }

private:
    std::unique_ptr<ArchiveStreamRecord> m_record;
    CComPtr<IAttributeStore> m_store;
};

// A codec-compressed video stream's format: "VideoFormat" (a BITMAPINFOHEADER and its codec bytes,
// at least 40 bytes) followed by the optional "VideoCodecState", and "FrameRate".
struct StoredCodecFormat
{
    std::vector<BYTE> input;
    DWORD stateSize = 0; // bytes of the codec state behind the header and its codec bytes
    double frameRate = 0;

    const BITMAPINFOHEADER *header() const
    {
        return reinterpret_cast<const BITMAPINFOHEADER *>(input.data());
    }
    const BYTE *state() const { return input.data() + (input.size() - stateSize); }
};

// Missing keys give the store's code; unusable values (a frame rate of 0 or above 1000, a bad
// header, an odd frame size) nyx::codecs::kInvalidFormat; error (may be null) says why.
HRESULT readCodecFormat(IAttributeStore *store, StoredCodecFormat *format, QString *error);
// "AudioFormat": at least the 18 bytes of a WAVEFORMATEX (longer blobs are read for their first 18).
HRESULT readAudioFormat(IAttributeStore *store, WAVEFORMATEX *format, QString *error);
