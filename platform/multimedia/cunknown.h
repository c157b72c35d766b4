#pragma once
// The reference counting and interface lookup that the media library's COM objects share.
//
// A class derives from CUnknown and from its interfaces, puts NYX_DECLARE_IUNKNOWN(FirstInterface)
// in its body and overrides NonDelegatingQueryInterface to answer its interfaces through
// GetInterface, passing other identifiers on to its base. With an outer object (aggregation)
// QueryInterface, AddRef and Release of the interfaces go to the outer one.

#include "com/unknown.h"

#include <atomic>

class CUnknown
{
public:
    CUnknown(const char *name, IUnknown *outer);
    CUnknown(const CUnknown &) = delete;
    CUnknown &operator=(const CUnknown &) = delete;
    virtual ~CUnknown();

    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void **object);
    virtual ULONG NonDelegatingAddRef();
    virtual ULONG NonDelegatingRelease();

    const char *name() const { return m_name; }
    // The outer object, or null for a stand-alone one.
    IUnknown *GetOwner() const { return m_outer; }
    ULONG refCount() const { return m_refCount.load(); }

protected:
    // The object's identity (its first interface), given for IID_IUnknown.
    virtual IUnknown *identityUnknown() = 0;

private:
    const char *m_name;
    IUnknown *m_outer;
    std::atomic<ULONG> m_refCount{0};
};

// Hands out an interface pointer with one reference added.
HRESULT GetInterface(IUnknown *unknown, void **object);

#define NYX_DECLARE_IUNKNOWN(FirstInterface)                                                                 \
    HRESULT QueryInterface(REFIID riid, void **object) override                                              \
    {                                                                                                        \
        return GetOwner() ? GetOwner()->QueryInterface(riid, object)                                         \
                          : NonDelegatingQueryInterface(riid, object);                                       \
    }                                                                                                        \
    ULONG AddRef() override                                                                                  \
    {                                                                                                        \
        return GetOwner() ? GetOwner()->AddRef() : NonDelegatingAddRef();                                    \
    }                                                                                                        \
    ULONG Release() override                                                                                 \
    {                                                                                                        \
        return GetOwner() ? GetOwner()->Release() : NonDelegatingRelease();                                  \
    }                                                                                                        \
                                                                                                             \
protected:                                                                                                   \
    IUnknown *identityUnknown() override                                                                     \
    {                                                                                                        \
        return static_cast<FirstInterface *>(this);                                                          \
    }                                                                                                        \
                                                                                                             \
public:
