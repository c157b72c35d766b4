#pragma once
// IUnknown and interface identifiers.

#include "com/guid.h"

#include <type_traits>

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown
{
    virtual HRESULT QueryInterface(REFIID riid, void **object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

    template <class Q> HRESULT QueryInterface(Q **object);

protected:
    virtual ~IUnknown() = default;
};

namespace nyx::com {
// Maps an interface type to its IID; specialised by NYX_DECLARE_IID.
template <class T> struct InterfaceTraits;

template <> struct InterfaceTraits<IUnknown>
{
    static const IID &iid() { return IID_IUnknown; }
};

template <class T> const IID &uuidOf()
{
    return InterfaceTraits<std::remove_cv_t<T>>::iid();
}
} // namespace nyx::com

// Ties an interface to its IID constant; use at global scope after the interface.
#define NYX_DECLARE_IID(Interface, iidConstant)                                                              \
    namespace nyx::com {                                                                                     \
    template <> struct InterfaceTraits<Interface>                                                            \
    {                                                                                                        \
        static const IID &iid() { return iidConstant; }                                                      \
    };                                                                                                       \
    }

#define IID_PPV_ARGS(pp)                                                                                     \
    ::nyx::com::uuidOf<std::remove_pointer_t<std::remove_reference_t<decltype(pp)>>>(),                      \
        reinterpret_cast<void **>(&(pp))

template <class Q> HRESULT IUnknown::QueryInterface(Q **object)
{
    return QueryInterface(nyx::com::uuidOf<Q>(), reinterpret_cast<void **>(object));
}
