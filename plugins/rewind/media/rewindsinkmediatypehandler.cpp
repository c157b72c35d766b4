#include "rewindsinkmediatypehandler.h"

#include "multimedia/comexception.h"
#include "rewindsinkstream.h"

#include <algorithm>

RewindSinkMediaTypeHandler::RewindSinkMediaTypeHandler(RewindSinkStream *owner, const GUID &majorType,
                                                       std::vector<GUID> subtypes)
    : CUnknown("RewindSinkMediaTypeHandler", nullptr), m_owner(owner), m_majorType(majorType),
      m_subtypes(std::move(subtypes))
{
    if (!owner)
        throw ComException(E_POINTER);
}

HRESULT RewindSinkMediaTypeHandler::QueryInterface(REFIID riid, void **object)
{
    return NonDelegatingQueryInterface(riid, object);
}

ULONG RewindSinkMediaTypeHandler::AddRef()
{
    return m_owner->AddRef();
}

ULONG RewindSinkMediaTypeHandler::Release()
{
    return m_owner->Release();
}

HRESULT RewindSinkMediaTypeHandler::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IMFMediaTypeHandler)
        return GetInterface(static_cast<IMFMediaTypeHandler *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT RewindSinkMediaTypeHandler::IsMediaTypeSupported(IMFMediaType *type, IMFMediaType **closest)
{
    // There is never a closer type to offer.
    if (closest)
        *closest = nullptr;
    if (!type)
        return E_INVALIDARG;
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    HRESULT hr = type->GetGUID(MF_MT_MAJOR_TYPE, &major);
    if (SUCCEEDED(hr))
        hr = type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (FAILED(hr))
        return hr;
    if (major != m_majorType || std::find(m_subtypes.begin(), m_subtypes.end(), subtype) == m_subtypes.end())
        return MF_E_INVALIDTYPE;
    return S_OK;
}

HRESULT RewindSinkMediaTypeHandler::GetMediaTypeCount(DWORD *count)
{
    if (!count)
        return E_INVALIDARG;
    *count = static_cast<DWORD>(m_subtypes.size());
    return S_OK;
}

HRESULT RewindSinkMediaTypeHandler::GetMediaTypeByIndex(DWORD index, IMFMediaType **type)
{
    if (!type)
        return E_INVALIDARG;
    *type = nullptr;
    if (index >= m_subtypes.size())
        return MF_E_NO_MORE_TYPES;
    CComPtr<IMFMediaType> made;
    HRESULT hr = MFCreateMediaType(&made);
    if (SUCCEEDED(hr))
        hr = made->SetGUID(MF_MT_MAJOR_TYPE, m_majorType);
    if (SUCCEEDED(hr))
        hr = made->SetGUID(MF_MT_SUBTYPE, m_subtypes[index]);
    if (FAILED(hr))
        return hr;
    *type = made.Detach();
    return S_OK;
}

HRESULT RewindSinkMediaTypeHandler::SetCurrentMediaType(IMFMediaType *type)
{
    if (!type)
        return E_INVALIDARG;
    AutoLock lock(m_lock);
    const HRESULT hr = IsMediaTypeSupported(type, nullptr);
    if (FAILED(hr))
        return hr;
    DWORD flags = 0;
    if (m_current && m_current->IsEqual(type, &flags) == S_OK)
        return S_OK;
    m_current = type;
    m_owner->mediaTypeChanged(type);
    return S_OK;
}

HRESULT RewindSinkMediaTypeHandler::GetCurrentMediaType(IMFMediaType **type)
{
    if (!type)
        return E_INVALIDARG;
    AutoLock lock(m_lock);
    *type = nullptr;
    if (!m_current)
        return MF_E_NOT_INITIALIZED;
    return m_current.CopyTo(type);
}

HRESULT RewindSinkMediaTypeHandler::GetMajorType(GUID *majorType)
{
    if (!majorType)
        return E_INVALIDARG;
    *majorType = m_majorType;
    return S_OK;
}

RewindSinkVideoMediaTypeHandler::RewindSinkVideoMediaTypeHandler(RewindSinkStream *owner)
    : RewindSinkMediaTypeHandler(owner, MFMediaType_Video, {MFVideoFormat_H264})
{
}

RewindSinkAudioMediaTypeHandler::RewindSinkAudioMediaTypeHandler(RewindSinkStream *owner)
    : RewindSinkMediaTypeHandler(owner, MFMediaType_Audio, {MFAudioFormat_PCM, MFAudioFormat_Float})
{
}
