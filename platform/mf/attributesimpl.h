#pragma once
// The attribute store behind every object here that is an IMFAttributes, for reuse by objects
// of other libraries (activation objects, markers, descriptors of their own).

#include "com/comobject.h"
#include "mf/mfobjects.h"

#include <mutex>
#include <utility>
#include <vector>

namespace nyx::mf {
// A thread-safe store of GUID-keyed PROPVARIANT items with the IMFAttributes operations, kept
// in the order the keys were first set.
class AttributeStore
{
public:
    AttributeStore() = default;
    ~AttributeStore();
    AttributeStore(const AttributeStore &) = delete;
    AttributeStore &operator=(const AttributeStore &) = delete;

    HRESULT GetItem(REFGUID key, PROPVARIANT *value);
    HRESULT GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE *type);
    HRESULT CompareItem(REFGUID key, REFPROPVARIANT value, BOOL *result);
    // self is the object that holds this store (compared with theirs without locking twice).
    HRESULT Compare(IMFAttributes *self, IMFAttributes *theirs, MF_ATTRIBUTES_MATCH_TYPE matchType,
                    BOOL *result);
    HRESULT GetUINT32(REFGUID key, UINT32 *value);
    HRESULT GetUINT64(REFGUID key, UINT64 *value);
    HRESULT GetDouble(REFGUID key, double *value);
    HRESULT GetGUID(REFGUID key, GUID *value);
    HRESULT GetStringLength(REFGUID key, UINT32 *length);
    HRESULT GetString(REFGUID key, LPWSTR buffer, UINT32 capacity, UINT32 *length);
    HRESULT GetAllocatedString(REFGUID key, LPWSTR *value, UINT32 *length);
    HRESULT GetBlobSize(REFGUID key, UINT32 *size);
    HRESULT GetBlob(REFGUID key, UINT8 *buffer, UINT32 capacity, UINT32 *size);
    HRESULT GetAllocatedBlob(REFGUID key, UINT8 **buffer, UINT32 *size);
    HRESULT GetUnknown(REFGUID key, REFIID riid, LPVOID *object);
    HRESULT SetItem(REFGUID key, REFPROPVARIANT value);
    HRESULT DeleteItem(REFGUID key);
    HRESULT DeleteAllItems();
    HRESULT SetUINT32(REFGUID key, UINT32 value);
    HRESULT SetUINT64(REFGUID key, UINT64 value);
    HRESULT SetDouble(REFGUID key, double value);
    HRESULT SetGUID(REFGUID key, REFGUID value);
    HRESULT SetString(REFGUID key, LPCWSTR value);
    HRESULT SetBlob(REFGUID key, const UINT8 *buffer, UINT32 size);
    HRESULT SetUnknown(REFGUID key, IUnknown *object);
    HRESULT LockStore();
    HRESULT UnlockStore();
    HRESULT GetCount(UINT32 *count);
    HRESULT GetItemByIndex(UINT32 index, GUID *key, PROPVARIANT *value);
    // self is the object that holds this store (copying to oneself changes nothing).
    HRESULT CopyAllItems(IMFAttributes *self, IMFAttributes *destination);

private:
    using Item = std::pair<GUID, PROPVARIANT>;
    // Under m_mutex.
    const PROPVARIANT *find(REFGUID key) const;
    HRESULT setOwned(REFGUID key, PROPVARIANT &value); // takes the variant over

    mutable std::recursive_mutex m_mutex;
    std::vector<Item> m_items;
};

// Implements the IMFAttributes part of an interface derived from it; Base is usually
// nyx::com::ComObject<IMFSomething, ...>. Answers IID_IMFAttributes through queryExtraInterface.
template <class Base> class AttributesImpl : public Base
{
public:
    HRESULT GetItem(REFGUID key, PROPVARIANT *value) override { return m_attributes.GetItem(key, value); }
    HRESULT GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE *type) override
    {
        return m_attributes.GetItemType(key, type);
    }
    HRESULT CompareItem(REFGUID key, REFPROPVARIANT value, BOOL *result) override
    {
        return m_attributes.CompareItem(key, value, result);
    }
    HRESULT Compare(IMFAttributes *theirs, MF_ATTRIBUTES_MATCH_TYPE matchType, BOOL *result) override
    {
        return m_attributes.Compare(this, theirs, matchType, result);
    }
    HRESULT GetUINT32(REFGUID key, UINT32 *value) override { return m_attributes.GetUINT32(key, value); }
    HRESULT GetUINT64(REFGUID key, UINT64 *value) override { return m_attributes.GetUINT64(key, value); }
    HRESULT GetDouble(REFGUID key, double *value) override { return m_attributes.GetDouble(key, value); }
    HRESULT GetGUID(REFGUID key, GUID *value) override { return m_attributes.GetGUID(key, value); }
    HRESULT GetStringLength(REFGUID key, UINT32 *length) override
    {
        return m_attributes.GetStringLength(key, length);
    }
    HRESULT GetString(REFGUID key, LPWSTR buffer, UINT32 capacity, UINT32 *length) override
    {
        return m_attributes.GetString(key, buffer, capacity, length);
    }
    HRESULT GetAllocatedString(REFGUID key, LPWSTR *value, UINT32 *length) override
    {
        return m_attributes.GetAllocatedString(key, value, length);
    }
    HRESULT GetBlobSize(REFGUID key, UINT32 *size) override { return m_attributes.GetBlobSize(key, size); }
    HRESULT GetBlob(REFGUID key, UINT8 *buffer, UINT32 capacity, UINT32 *size) override
    {
        return m_attributes.GetBlob(key, buffer, capacity, size);
    }
    HRESULT GetAllocatedBlob(REFGUID key, UINT8 **buffer, UINT32 *size) override
    {
        return m_attributes.GetAllocatedBlob(key, buffer, size);
    }
    HRESULT GetUnknown(REFGUID key, REFIID riid, LPVOID *object) override
    {
        return m_attributes.GetUnknown(key, riid, object);
    }
    HRESULT SetItem(REFGUID key, REFPROPVARIANT value) override { return m_attributes.SetItem(key, value); }
    HRESULT DeleteItem(REFGUID key) override { return m_attributes.DeleteItem(key); }
    HRESULT DeleteAllItems() override { return m_attributes.DeleteAllItems(); }
    HRESULT SetUINT32(REFGUID key, UINT32 value) override { return m_attributes.SetUINT32(key, value); }
    HRESULT SetUINT64(REFGUID key, UINT64 value) override { return m_attributes.SetUINT64(key, value); }
    HRESULT SetDouble(REFGUID key, double value) override { return m_attributes.SetDouble(key, value); }
    HRESULT SetGUID(REFGUID key, REFGUID value) override { return m_attributes.SetGUID(key, value); }
    HRESULT SetString(REFGUID key, LPCWSTR value) override { return m_attributes.SetString(key, value); }
    HRESULT SetBlob(REFGUID key, const UINT8 *buffer, UINT32 size) override
    {
        return m_attributes.SetBlob(key, buffer, size);
    }
    HRESULT SetUnknown(REFGUID key, IUnknown *object) override
    {
        return m_attributes.SetUnknown(key, object);
    }
    HRESULT LockStore() override { return m_attributes.LockStore(); }
    HRESULT UnlockStore() override { return m_attributes.UnlockStore(); }
    HRESULT GetCount(UINT32 *count) override { return m_attributes.GetCount(count); }
    HRESULT GetItemByIndex(UINT32 index, GUID *key, PROPVARIANT *value) override
    {
        return m_attributes.GetItemByIndex(index, key, value);
    }
    HRESULT CopyAllItems(IMFAttributes *destination) override
    {
        return m_attributes.CopyAllItems(this, destination);
    }

protected:
    void *queryExtraInterface(REFIID riid) override
    {
        if (riid == IID_IMFAttributes)
            return static_cast<IMFAttributes *>(this);
        return Base::queryExtraInterface(riid);
    }

    AttributeStore m_attributes;
};
} // namespace nyx::mf
