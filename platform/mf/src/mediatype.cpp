// Attribute stores and media types.

#include "mf/attributesimpl.h"
#include "mf/mfapi.h"

namespace nyx::mf {
namespace {
class Attributes final : public AttributesImpl<com::ComObject<IMFAttributes>>
{
};

class MediaType final : public AttributesImpl<com::ComObject<IMFMediaType>>
{
public:
    HRESULT GetMajorType(GUID *majorType) override
    {
        if (!majorType)
            return E_POINTER;
        return m_attributes.GetGUID(MF_MT_MAJOR_TYPE, majorType);
    }

    HRESULT IsCompressedFormat(BOOL *compressed) override
    {
        if (!compressed)
            return E_POINTER;
        UINT32 value = 0;
        if (SUCCEEDED(m_attributes.GetUINT32(MF_MT_COMPRESSED, &value)))
            *compressed = value != 0;
        else
            *compressed = MFGetAttributeUINT32(this, MF_MT_ALL_SAMPLES_INDEPENDENT, 0) == 0;
        return S_OK;
    }

    HRESULT IsEqual(IMFMediaType *other, DWORD *flags) override
    {
        if (!flags)
            return E_POINTER;
        *flags = 0;
        if (!other)
            return S_FALSE;
        if (sameItem(other, MF_MT_MAJOR_TYPE, false))
            *flags |= MF_MEDIATYPE_EQUAL_MAJOR_TYPES;
        if (sameItem(other, MF_MT_SUBTYPE, false))
            *flags |= MF_MEDIATYPE_EQUAL_FORMAT_TYPES;
        if (sameItem(other, MF_MT_USER_DATA, true))
            *flags |= MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA;
        if (formatDataMatches(other))
            *flags |= MF_MEDIATYPE_EQUAL_FORMAT_DATA;
        BOOL all = FALSE;
        if (*flags == (MF_MEDIATYPE_EQUAL_MAJOR_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_TYPES |
                       MF_MEDIATYPE_EQUAL_FORMAT_DATA | MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA) &&
            SUCCEEDED(Compare(other, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &all)) && all)
            return S_OK;
        return S_FALSE;
    }

private:
    // Both hold the key with the same value (or, when absentCounts, both lack it).
    bool sameItem(IMFMediaType *other, REFGUID key, bool absentCounts)
    {
        PropVariant ours, theirs;
        const bool haveOurs = SUCCEEDED(GetItem(key, &ours));
        const bool haveTheirs = SUCCEEDED(other->GetItem(key, &theirs));
        if (!haveOurs || !haveTheirs)
            return absentCounts && !haveOurs && !haveTheirs;
        return propVariantEquals(ours, theirs);
    }

    // The items of the type with fewer items are all in the other with the same values, leaving
    // out the user data and the frame rate range.
    bool formatDataMatches(IMFMediaType *other)
    {
        auto collect = [](IMFAttributes *attributes, std::vector<std::pair<GUID, PropVariant>> *items) {
            attributes->LockStore();
            UINT32 count = 0;
            attributes->GetCount(&count);
            for (UINT32 i = 0; i < count; ++i) {
                std::pair<GUID, PropVariant> item;
                if (FAILED(attributes->GetItemByIndex(i, &item.first, &item.second)))
                    continue;
                if (item.first == MF_MT_USER_DATA || item.first == MF_MT_FRAME_RATE_RANGE_MIN ||
                    item.first == MF_MT_FRAME_RATE_RANGE_MAX)
                    continue;
                items->push_back(std::move(item));
            }
            attributes->UnlockStore();
        };
        std::vector<std::pair<GUID, PropVariant>> ours, theirs;
        collect(this, &ours);
        collect(other, &theirs);
        const auto &small = ours.size() <= theirs.size() ? ours : theirs;
        const auto &large = ours.size() <= theirs.size() ? theirs : ours;
        for (const auto &item : small) {
            bool found = false;
            for (const auto &candidate : large) {
                if (candidate.first == item.first) {
                    found = propVariantEquals(candidate.second, item.second);
                    break;
                }
            }
            if (!found)
                return false;
        }
        return true;
    }
};
} // namespace
} // namespace nyx::mf

HRESULT MFCreateAttributes(IMFAttributes **attributes, UINT32)
{
    if (!attributes)
        return E_POINTER;
    *attributes = new nyx::mf::Attributes;
    return S_OK;
}

HRESULT MFCreateMediaType(IMFMediaType **mediaType)
{
    if (!mediaType)
        return E_POINTER;
    *mediaType = new nyx::mf::MediaType;
    return S_OK;
}

namespace {
UINT64 pack(UINT32 high, UINT32 low)
{
    return (UINT64(high) << 32) | low;
}
HRESULT unpack(IMFAttributes *attributes, REFGUID key, UINT32 *high, UINT32 *low)
{
    if (!attributes || !high || !low)
        return E_POINTER;
    UINT64 value = 0;
    const HRESULT hr = attributes->GetUINT64(key, &value);
    if (FAILED(hr))
        return hr;
    *high = UINT32(value >> 32);
    *low = UINT32(value);
    return S_OK;
}
} // namespace

HRESULT MFSetAttributeSize(IMFAttributes *attributes, REFGUID key, UINT32 width, UINT32 height)
{
    if (!attributes)
        return E_POINTER;
    return attributes->SetUINT64(key, pack(width, height));
}

HRESULT MFGetAttributeSize(IMFAttributes *attributes, REFGUID key, UINT32 *width, UINT32 *height)
{
    return unpack(attributes, key, width, height);
}

HRESULT MFSetAttributeRatio(IMFAttributes *attributes, REFGUID key, UINT32 numerator, UINT32 denominator)
{
    if (!attributes)
        return E_POINTER;
    return attributes->SetUINT64(key, pack(numerator, denominator));
}

HRESULT MFGetAttributeRatio(IMFAttributes *attributes, REFGUID key, UINT32 *numerator, UINT32 *denominator)
{
    return unpack(attributes, key, numerator, denominator);
}
