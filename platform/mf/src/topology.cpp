// Topology nodes and activation objects.

#include "mf/attributesimpl.h"
#include "mf/mfapi.h"
#include "src/query.h"

#include "com/comptr.h"

#include <atomic>

namespace nyx::mf {
namespace {
std::atomic<TOPOID> nextTopoId{1};

class TopologyNode final : public AttributesImpl<com::ComObject<IMFTopologyNode>>
{
public:
    explicit TopologyNode(MF_TOPOLOGY_TYPE type) : m_type(type) {}

    HRESULT SetObject(IUnknown *object) override
    {
        CComPtr<IUnknown> old;
        std::lock_guard<std::mutex> lock(m_mutex);
        old = m_object;
        m_object = object;
        return S_OK;
    }
    HRESULT GetObject(IUnknown **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_object)
            return E_FAIL;
        return m_object.CopyTo(object);
    }
    HRESULT GetNodeType(MF_TOPOLOGY_TYPE *type) override
    {
        if (!type)
            return E_POINTER;
        *type = m_type;
        return S_OK;
    }
    HRESULT GetTopoNodeID(TOPOID *id) override
    {
        if (!id)
            return E_POINTER;
        *id = m_id;
        return S_OK;
    }
    HRESULT SetTopoNodeID(TOPOID id) override
    {
        m_id = id;
        return S_OK;
    }

private:
    const MF_TOPOLOGY_TYPE m_type;
    std::atomic<TOPOID> m_id{nextTopoId++};
    std::mutex m_mutex;
    CComPtr<IUnknown> m_object;
};

class FunctionActivate final : public AttributesImpl<com::ComObject<IMFActivate>>
{
public:
    explicit FunctionActivate(std::function<HRESULT(IUnknown **)> create) : m_create(std::move(create)) {}

    HRESULT ActivateObject(REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_object) {
            if (!m_create)
                return E_UNEXPECTED;
            CComPtr<IUnknown> created;
            HRESULT hr = m_create(&created);
            if (FAILED(hr))
                return hr;
            if (!created)
                return E_POINTER;
            m_object = created;
        }
        return m_object->QueryInterface(riid, object);
    }
    HRESULT ShutdownObject() override
    {
        CComPtr<IUnknown> object;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            object = std::move(m_object);
        }
        if (!object)
            return S_OK;
        CComPtr<IMFMediaSource> source;
        CComPtr<IMFMediaSink> sink;
        if (SUCCEEDED(nyx::mf::queryInto(object, source)))
            source->Shutdown();
        else if (SUCCEEDED(nyx::mf::queryInto(object, sink)))
            sink->Shutdown();
        return S_OK;
    }
    HRESULT DetachObject() override
    {
        CComPtr<IUnknown> object;
        std::lock_guard<std::mutex> lock(m_mutex);
        object = std::move(m_object);
        return S_OK;
    }

private:
    std::mutex m_mutex;
    std::function<HRESULT(IUnknown **)> m_create;
    CComPtr<IUnknown> m_object;
};
} // namespace

HRESULT createFunctionActivate(std::function<HRESULT(IUnknown **object)> create, IMFActivate **activate)
{
    if (!activate)
        return E_POINTER;
    *activate = nullptr;
    if (!create)
        return E_INVALIDARG;
    *activate = new FunctionActivate(std::move(create));
    return S_OK;
}
} // namespace nyx::mf

HRESULT MFCreateTopologyNode(MF_TOPOLOGY_TYPE type, IMFTopologyNode **node)
{
    if (!node)
        return E_POINTER;
    *node = nullptr;
    if (type < MF_TOPOLOGY_OUTPUT_NODE || type > MF_TOPOLOGY_TEE_NODE)
        return E_INVALIDARG;
    *node = new nyx::mf::TopologyNode(type);
    return S_OK;
}

HRESULT MFGetService(IUnknown *object, REFGUID service, REFIID riid, LPVOID *result)
{
    if (!object || !result)
        return E_POINTER;
    *result = nullptr;
    CComPtr<IMFGetService> getService;
    if (FAILED(nyx::mf::queryInto(object, getService)))
        return MF_E_UNSUPPORTED_SERVICE;
    return getService->GetService(service, riid, result);
}

HRESULT MFStartup(ULONG, DWORD)
{
    return S_OK;
}

HRESULT MFShutdown()
{
    return S_OK;
}
