#pragma once
// A stream sink marker as it waits in a sink's queue: its type, value and the context that goes
// back with MEStreamSinkMarker.

#include "mf/mf.h"
#include "multimedia/cunknown.h"

// {6A1F3C52-2B7E-4D0B-9C5E-3E1A7F4B8D21}
constexpr IID IID_IMarker = {0x6A1F3C52, 0x2B7E, 0x4D0B, {0x9C, 0x5E, 0x3E, 0x1A, 0x7F, 0x4B, 0x8D, 0x21}};

namespace nyx {
struct IMarker : public IUnknown
{
    virtual HRESULT GetMarkerType(MFSTREAMSINK_MARKER_TYPE *type) = 0;
    // Copies into an initialised PROPVARIANT; the caller clears it.
    virtual HRESULT GetMarkerValue(PROPVARIANT *value) = 0;
    virtual HRESULT GetContext(PROPVARIANT *context) = 0;
};

class CMarker : public IMarker, public CUnknown
{
public:
    // value and context may be null (VT_EMPTY).
    static HRESULT Create(MFSTREAMSINK_MARKER_TYPE type, const PROPVARIANT *value, const PROPVARIANT *context,
                          IMarker **marker);

    NYX_DECLARE_IUNKNOWN(IMarker)
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;
    HRESULT GetMarkerType(MFSTREAMSINK_MARKER_TYPE *type) override;
    HRESULT GetMarkerValue(PROPVARIANT *value) override;
    HRESULT GetContext(PROPVARIANT *context) override;

private:
    explicit CMarker(MFSTREAMSINK_MARKER_TYPE type);
    ~CMarker() override;

    MFSTREAMSINK_MARKER_TYPE m_type;
    PROPVARIANT m_value;
    PROPVARIANT m_context;
};
} // namespace nyx

NYX_DECLARE_IID(nyx::IMarker, IID_IMarker)
