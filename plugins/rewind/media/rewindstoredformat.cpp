#include "rewindstoredformat.h"

#include "codecs/storedformats.h"
#include "com/cocreate.h"

#include <cstring>

namespace {
constexpr DWORD kClassContext = 23;
// Largest blob taken from a 4096-byte block.
constexpr UINT32 kMaxBlob = 4096;

HRESULT readBlob(IAttributeStore *store, const char16_t *name, std::vector<BYTE> *out)
{
    UINT32 size = 0;
    HRESULT hr = store->GetBlobSize(name, &size);
    if (FAILED(hr))
        return hr;
    if (size > kMaxBlob)
        return nyx::codecs::kInvalidFormat;
    out->assign(size, 0);
    UINT32 read = 0;
    hr = store->GetBlob(name, out->data(), size, &read);
    if (FAILED(hr))
        return hr;
    out->resize(std::min(read, size));
    return S_OK;
}
} // namespace

HRESULT StoredAttributes::open(IArchiveStream *stream)
{
    if (!stream)
        return E_POINTER;
    m_record = std::make_unique<ArchiveStreamRecord>();
    std::memset(m_record.get(), 0, sizeof *m_record);
    HRESULT hr = stream->ReadRecord(m_record.get());
    if (FAILED(hr))
        return hr;
    m_store.Release();
    hr = CoCreateInstance(CLSID_AttributeStore, nullptr, kClassContext, IID_IAttributeStore,
                          reinterpret_cast<void **>(&m_store));
    if (FAILED(hr))
        return hr;
    if (!m_store)
        return E_POINTER;
    return m_store->Bind(m_record->attributes, sizeof m_record->attributes, FALSE);
}

HRESULT readCodecFormat(IAttributeStore *store, StoredCodecFormat *format, QString *error)
{
    if (!store || !format)
        return E_POINTER;
    HRESULT hr = store->GetDouble(u"FrameRate", &format->frameRate);
    if (FAILED(hr)) {
        if (error)
            *error = QStringLiteral("no \"FrameRate\"");
        return hr;
    }
    hr = nyx::codecs::checkFrameRate(format->frameRate, error);
    if (FAILED(hr))
        return hr;
    std::vector<BYTE> blob;
    hr = readBlob(store, u"VideoFormat", &blob);
    if (FAILED(hr)) {
        if (error)
            *error = QStringLiteral("no usable \"VideoFormat\"");
        return hr;
    }
    hr = nyx::codecs::parseVideoFormat(blob.data(), blob.size(), &format->input, error);
    if (FAILED(hr))
        return hr;
    // The frames are played as YUY2 and NV12, which pair pixels and rows.
    if (format->header()->biWidth % 2 || format->header()->biHeight % 2) {
        if (error)
            *error = QStringLiteral("odd frame size %1x%2")
                         .arg(format->header()->biWidth)
                         .arg(format->header()->biHeight);
        return nyx::codecs::kInvalidFormat;
    }
    std::vector<BYTE> state;
    format->stateSize = 0;
    if (SUCCEEDED(readBlob(store, u"VideoCodecState", &state)) && !state.empty()) {
        format->input.insert(format->input.end(), state.begin(), state.end());
        format->stateSize = static_cast<DWORD>(state.size());
    }
    return S_OK;
}

HRESULT readAudioFormat(IAttributeStore *store, WAVEFORMATEX *format, QString *error)
{
    if (!store || !format)
        return E_POINTER;
    std::vector<BYTE> blob;
    const HRESULT hr = readBlob(store, u"AudioFormat", &blob);
    if (FAILED(hr)) {
        if (error)
            *error = QStringLiteral("no usable \"AudioFormat\"");
        return hr;
    }
    return nyx::codecs::parseAudioFormat(blob.data(), blob.size(), format, error);
}
