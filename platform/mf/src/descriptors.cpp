// Presentation and stream descriptors and the generic media type handler.

#include "mf/attributesimpl.h"
#include "mf/mfapi.h"

#include "com/comptr.h"

#include <vector>

namespace nyx::mf {
namespace {
class MediaTypeHandler final : public com::ComObject<IMFMediaTypeHandler>
{
public:
    explicit MediaTypeHandler(std::vector<CComPtr<IMFMediaType>> types) : m_types(std::move(types)) {}

    HRESULT IsMediaTypeSupported(IMFMediaType *mediaType, IMFMediaType **closest) override
    {
        if (closest)
            *closest = nullptr;
        if (!mediaType)
            return E_POINTER;
        if (m_types.empty())
            return S_OK;
        const DWORD wanted =
            MF_MEDIATYPE_EQUAL_MAJOR_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_DATA;
        for (const auto &type : m_types) {
            DWORD flags = 0;
            if (SUCCEEDED(type->IsEqual(mediaType, &flags)) && (flags & wanted) == wanted)
                return S_OK;
        }
        return MF_E_INVALIDMEDIATYPE;
    }
    HRESULT GetMediaTypeCount(DWORD *count) override
    {
        if (!count)
            return E_POINTER;
        *count = DWORD(m_types.size());
        return S_OK;
    }
    HRESULT GetMediaTypeByIndex(DWORD index, IMFMediaType **mediaType) override
    {
        if (!mediaType)
            return E_POINTER;
        *mediaType = nullptr;
        if (index >= m_types.size())
            return MF_E_NO_MORE_TYPES;
        return m_types[index].CopyTo(mediaType);
    }
    HRESULT SetCurrentMediaType(IMFMediaType *mediaType) override
    {
        if (!mediaType)
            return E_POINTER;
        HRESULT hr = IsMediaTypeSupported(mediaType, nullptr);
        if (FAILED(hr))
            return hr;
        CComPtr<IMFMediaType> old;
        std::lock_guard<std::mutex> lock(m_mutex);
        old = m_current;
        m_current = mediaType;
        return S_OK;
    }
    HRESULT GetCurrentMediaType(IMFMediaType **mediaType) override
    {
        if (!mediaType)
            return E_POINTER;
        *mediaType = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_current)
            return MF_E_NOT_INITIALIZED;
        return m_current.CopyTo(mediaType);
    }
    HRESULT GetMajorType(GUID *majorType) override
    {
        if (!majorType)
            return E_POINTER;
        CComPtr<IMFMediaType> type;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            type = m_current ? m_current : (m_types.empty() ? nullptr : m_types.front());
        }
        if (!type)
            return MF_E_NOT_INITIALIZED;
        return type->GetMajorType(majorType);
    }

private:
    const std::vector<CComPtr<IMFMediaType>> m_types;
    std::mutex m_mutex;
    CComPtr<IMFMediaType> m_current;
};

class StreamDescriptor final : public AttributesImpl<com::ComObject<IMFStreamDescriptor>>
{
public:
    StreamDescriptor(DWORD identifier, IMFMediaTypeHandler *handler)
        : m_identifier(identifier), m_handler(handler)
    {
    }

    HRESULT GetStreamIdentifier(DWORD *identifier) override
    {
        if (!identifier)
            return E_POINTER;
        *identifier = m_identifier;
        return S_OK;
    }
    HRESULT GetMediaTypeHandler(IMFMediaTypeHandler **handler) override
    {
        if (!handler)
            return E_POINTER;
        return m_handler.CopyTo(handler);
    }

private:
    const DWORD m_identifier;
    const CComPtr<IMFMediaTypeHandler> m_handler;
};

class PresentationDescriptor final : public AttributesImpl<com::ComObject<IMFPresentationDescriptor>>
{
public:
    explicit PresentationDescriptor(std::vector<CComPtr<IMFStreamDescriptor>> streams)
        : m_streams(std::move(streams)), m_selected(m_streams.size(), false)
    {
    }

    HRESULT GetStreamDescriptorCount(DWORD *count) override
    {
        if (!count)
            return E_POINTER;
        *count = DWORD(m_streams.size());
        return S_OK;
    }
    HRESULT GetStreamDescriptorByIndex(DWORD index, BOOL *selected, IMFStreamDescriptor **descriptor) override
    {
        if (!selected || !descriptor)
            return E_POINTER;
        *descriptor = nullptr;
        if (index >= m_streams.size())
            return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_mutex);
        *selected = m_selected[index];
        return m_streams[index].CopyTo(descriptor);
    }
    HRESULT SelectStream(DWORD index) override { return select(index, true); }
    HRESULT DeselectStream(DWORD index) override { return select(index, false); }
    HRESULT Clone(IMFPresentationDescriptor **descriptor) override
    {
        if (!descriptor)
            return E_POINTER;
        CComPtr<PresentationDescriptor> clone;
        clone.Attach(new PresentationDescriptor(m_streams));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            clone->m_selected = m_selected;
        }
        HRESULT hr = CopyAllItems(clone);
        if (FAILED(hr))
            return hr;
        *descriptor = clone.Detach();
        return S_OK;
    }

private:
    HRESULT select(DWORD index, bool selected)
    {
        if (index >= m_streams.size())
            return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_selected[index] = selected;
        return S_OK;
    }

    const std::vector<CComPtr<IMFStreamDescriptor>> m_streams;
    std::mutex m_mutex;
    std::vector<bool> m_selected;
};
} // namespace

HRESULT createMediaTypeHandler(DWORD count, IMFMediaType **mediaTypes, IMFMediaTypeHandler **handler)
{
    if (!handler)
        return E_POINTER;
    *handler = nullptr;
    if (count && !mediaTypes)
        return E_POINTER;
    std::vector<CComPtr<IMFMediaType>> types;
    for (DWORD i = 0; i < count; ++i) {
        if (!mediaTypes[i])
            return E_POINTER;
        types.emplace_back(mediaTypes[i]);
    }
    *handler = new MediaTypeHandler(std::move(types));
    return S_OK;
}
} // namespace nyx::mf

HRESULT MFCreateStreamDescriptor(DWORD identifier, DWORD count, IMFMediaType **mediaTypes,
                                 IMFStreamDescriptor **descriptor)
{
    if (!descriptor)
        return E_POINTER;
    *descriptor = nullptr;
    if (count == 0)
        return E_INVALIDARG;
    CComPtr<IMFMediaTypeHandler> handler;
    HRESULT hr = nyx::mf::createMediaTypeHandler(count, mediaTypes, &handler);
    if (FAILED(hr))
        return hr;
    *descriptor = new nyx::mf::StreamDescriptor(identifier, handler);
    return S_OK;
}

HRESULT MFCreatePresentationDescriptor(DWORD count, IMFStreamDescriptor **streamDescriptors,
                                       IMFPresentationDescriptor **descriptor)
{
    if (!descriptor)
        return E_POINTER;
    *descriptor = nullptr;
    if (count && !streamDescriptors)
        return E_POINTER;
    std::vector<CComPtr<IMFStreamDescriptor>> streams;
    for (DWORD i = 0; i < count; ++i) {
        if (!streamDescriptors[i])
            return E_POINTER;
        streams.emplace_back(streamDescriptors[i]);
    }
    *descriptor = new nyx::mf::PresentationDescriptor(std::move(streams));
    return S_OK;
}
