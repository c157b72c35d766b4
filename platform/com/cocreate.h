#pragma once
// CoCreateInstance over an in-process registry of class factories keyed by CLSID.
// Servers register themselves; tests may register a scripted or failing server under the
// real CLSID, which hides the earlier registration until it is removed.

#include "com/unknown.h"

#include <functional>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID riid, void **object);
// S_OK the first time on a thread, S_FALSE after; CoUninitialize balances it.
HRESULT CoInitializeEx(void *reserved, DWORD flags);
HRESULT CoInitialize(void *reserved);
void CoUninitialize();
void *CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void *memory);

namespace nyx::com {
using ClassFactory = std::function<HRESULT(REFIID riid, void **object)>;

// Registers a factory until the returned id is passed to unregisterClass.
int registerClass(REFCLSID clsid, ClassFactory factory);
void unregisterClass(int registrationId);

// Registration for the lifetime of a scope (tests).
class ClassRegistration
{
public:
    ClassRegistration(REFCLSID clsid, ClassFactory factory) : m_id(registerClass(clsid, std::move(factory)))
    {
    }
    ~ClassRegistration() { unregisterClass(m_id); }
    ClassRegistration(const ClassRegistration &) = delete;
    ClassRegistration &operator=(const ClassRegistration &) = delete;

private:
    int m_id;
};
} // namespace nyx::com
