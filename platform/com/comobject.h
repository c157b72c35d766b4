#pragma once
// ComObject: the IUnknown part of an object that implements the given interfaces.
// A new object holds one reference, owned by its creator (wrap with CComPtr::Attach).

#include "com/unknown.h"

#include <atomic>

namespace nyx::com {
template <class First, class... Rest> class ComObject : public First, public Rest...
{
public:
    HRESULT QueryInterface(REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown)
            *object = static_cast<IUnknown *>(static_cast<First *>(this));
        else
            *object = findInterface<First, Rest...>(riid);
        if (!*object) {
            *object = queryExtraInterface(riid);
            if (!*object)
                return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refCount; }
    ULONG Release() override
    {
        const ULONG count = --m_refCount;
        if (count == 0)
            delete this;
        return count;
    }
    ULONG refCount() const { return m_refCount.load(); }

protected:
    ComObject() = default;
    ~ComObject() override = default;
    // Interfaces beyond the listed ones (base interfaces, tear-offs); no AddRef here.
    virtual void *queryExtraInterface(REFIID) { return nullptr; }

private:
    template <class I, class... More> void *findInterface(REFIID riid)
    {
        if (riid == uuidOf<I>())
            return static_cast<I *>(this);
        if constexpr (sizeof...(More) > 0)
            return findInterface<More...>(riid);
        return nullptr;
    }

    std::atomic<ULONG> m_refCount{1};
};
} // namespace nyx::com
