#pragma once
// CComPtr: holds one reference to a COM object.

#include "com/cocreate.h"
#include "com/unknown.h"

#include <cassert>
#include <memory>
#include <utility>

template <class T> class CComPtr
{
public:
    CComPtr() = default;
    CComPtr(std::nullptr_t) {}
    CComPtr(T *p) : p(p)
    {
        if (p)
            p->AddRef();
    }
    CComPtr(const CComPtr &other) : CComPtr(other.p) {}
    CComPtr(CComPtr &&other) noexcept : p(std::exchange(other.p, nullptr)) {}
    ~CComPtr()
    {
        if (p)
            p->Release();
    }
    CComPtr &operator=(T *other)
    {
        if (other)
            other->AddRef();
        T *old = std::exchange(p, other);
        if (old)
            old->Release();
        return *this;
    }
    CComPtr &operator=(const CComPtr &other) { return *this = other.p; }
    CComPtr &operator=(CComPtr &&other) noexcept
    {
        // operator& is the out-parameter address, not this object's.
        if (this != std::addressof(other)) {
            T *old = std::exchange(p, std::exchange(other.p, nullptr));
            if (old)
                old->Release();
        }
        return *this;
    }

    operator T *() const { return p; }
    T *operator->() const
    {
        assert(p);
        return p;
    }
    T &operator*() const { return *p; }
    // The address for an out parameter; the pointer must be empty.
    T **operator&()
    {
        assert(!p);
        return &p;
    }
    bool operator!() const { return p == nullptr; }

    void Release()
    {
        if (T *old = std::exchange(p, nullptr))
            old->Release();
    }
    // Takes over a reference without adding one.
    void Attach(T *other)
    {
        T *old = std::exchange(p, other);
        if (old)
            old->Release();
    }
    T *Detach() { return std::exchange(p, nullptr); }
    HRESULT CopyTo(T **out) const
    {
        if (!out)
            return E_POINTER;
        *out = p;
        if (p)
            p->AddRef();
        return S_OK;
    }
    template <class Q> HRESULT QueryInterface(Q **out) const
    {
        if (!out)
            return E_POINTER;
        if (!p)
            return E_POINTER;
        return p->QueryInterface(nyx::com::uuidOf<Q>(), reinterpret_cast<void **>(out));
    }
    HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer = nullptr, DWORD context = CLSCTX_ALL)
    {
        assert(!p);
        return ::CoCreateInstance(clsid, outer, context, nyx::com::uuidOf<T>(),
                                  reinterpret_cast<void **>(&p));
    }

    T *p = nullptr;
};
