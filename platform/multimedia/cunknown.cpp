#include "multimedia/cunknown.h"

CUnknown::CUnknown(const char *name, IUnknown *outer) : m_name(name), m_outer(outer) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown)
        return GetInterface(identityUnknown(), object);
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef()
{
    return ++m_refCount;
}

ULONG CUnknown::NonDelegatingRelease()
{
    const ULONG count = --m_refCount;
    if (count == 0)
        delete this;
    return count;
}

HRESULT GetInterface(IUnknown *unknown, void **object)
{
    if (!object)
        return E_POINTER;
    *object = unknown;
    if (!unknown)
        return E_NOINTERFACE;
    unknown->AddRef();
    return S_OK;
}
