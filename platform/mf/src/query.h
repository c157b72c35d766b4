#pragma once
// QueryInterface into a CComPtr.

#include "com/comptr.h"

namespace nyx::mf {
template <class Q> HRESULT queryInto(IUnknown *object, CComPtr<Q> &out)
{
    if (!object)
        return E_POINTER;
    out.Release();
    return object->QueryInterface(com::uuidOf<Q>(), reinterpret_cast<void **>(&out));
}
} // namespace nyx::mf
