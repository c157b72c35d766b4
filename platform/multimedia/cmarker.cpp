#include "multimedia/cmarker.h"

#include "com/comptr.h"

namespace nyx {
CMarker::CMarker(MFSTREAMSINK_MARKER_TYPE type) : CUnknown("CMarker", nullptr), m_type(type)
{
    PropVariantInit(&m_value);
    PropVariantInit(&m_context);
}

CMarker::~CMarker()
{
    PropVariantClear(&m_value);
    PropVariantClear(&m_context);
}

HRESULT CMarker::Create(MFSTREAMSINK_MARKER_TYPE type, const PROPVARIANT *value, const PROPVARIANT *context,
                        IMarker **marker)
{
    if (!marker)
        return E_POINTER;
    *marker = nullptr;
    CComPtr<CMarker> made(new CMarker(type));
    HRESULT hr = value ? PropVariantCopy(&made->m_value, value) : S_OK;
    if (SUCCEEDED(hr) && context)
        hr = PropVariantCopy(&made->m_context, context);
    if (FAILED(hr))
        return hr;
    *marker = made.Detach();
    return S_OK;
}

HRESULT CMarker::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IMarker)
        return GetInterface(static_cast<IMarker *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CMarker::GetMarkerType(MFSTREAMSINK_MARKER_TYPE *type)
{
    if (!type)
        return E_POINTER;
    *type = m_type;
    return S_OK;
}

HRESULT CMarker::GetMarkerValue(PROPVARIANT *value)
{
    if (!value)
        return E_POINTER;
    return PropVariantCopy(value, &m_value);
}

HRESULT CMarker::GetContext(PROPVARIANT *context)
{
    if (!context)
        return E_POINTER;
    return PropVariantCopy(context, &m_context);
}
} // namespace nyx
