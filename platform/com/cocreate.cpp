#include "com/cocreate.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace {
struct Entry
{
    int id;
    CLSID clsid;
    nyx::com::ClassFactory factory;
};

struct Registry
{
    std::mutex mutex;
    std::vector<Entry> entries;
    int nextId = 1;
};

Registry &registry()
{
    static Registry r;
    return r;
}

thread_local int t_initCount = 0;
} // namespace

namespace nyx::com {
int registerClass(REFCLSID clsid, ClassFactory factory)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const int id = r.nextId++;
    r.entries.push_back(Entry{id, clsid, std::move(factory)});
    return id;
}

void unregisterClass(int registrationId)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
        if (it->id == registrationId) {
            r.entries.erase(it);
            return;
        }
    }
}
} // namespace nyx::com

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD, REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    nyx::com::ClassFactory factory;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) {
            if (it->clsid == clsid) {
                factory = it->factory;
                break;
            }
        }
    }
    if (!factory)
        return REGDB_E_CLASSNOTREG;
    return factory(riid, object);
}

HRESULT CoInitializeEx(void *, DWORD)
{
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(void *reserved)
{
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize()
{
    if (t_initCount > 0)
        --t_initCount;
}

void *CoTaskMemAlloc(std::size_t size)
{
    return std::malloc(size ? size : 1);
}

void CoTaskMemFree(void *memory)
{
    std::free(memory);
}
