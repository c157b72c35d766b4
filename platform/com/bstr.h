#pragma once
// BSTR: a char16_t buffer preceded by its byte length (32 bits) and followed by a NUL.

#include "com/guid.h"

using BSTR = OLECHAR *;

BSTR SysAllocString(LPCOLESTR text);
// text may be null: the string then holds length uninitialised (zeroed) units.
BSTR SysAllocStringLen(const OLECHAR *text, UINT length);
BSTR SysAllocStringByteLen(const char *bytes, UINT length);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
void SysFreeString(BSTR text);

namespace nyx::com {
BSTR toBstr(const QString &text);
QString fromBstr(BSTR text);
} // namespace nyx::com

// Owns one BSTR.
class CComBSTR
{
public:
    CComBSTR() = default;
    explicit CComBSTR(LPCOLESTR text) : m_str(SysAllocString(text)) {}
    explicit CComBSTR(const QString &text) : m_str(nyx::com::toBstr(text)) {}
    CComBSTR(const CComBSTR &other)
        : m_str(other.m_str ? SysAllocStringLen(other.m_str, other.Length()) : nullptr)
    {
    }
    CComBSTR &operator=(const CComBSTR &other)
    {
        if (this != &other) {
            SysFreeString(m_str);
            m_str = other.m_str ? SysAllocStringLen(other.m_str, other.Length()) : nullptr;
        }
        return *this;
    }
    ~CComBSTR() { SysFreeString(m_str); }

    UINT Length() const { return SysStringLen(m_str); }
    operator BSTR() const { return m_str; }
    BSTR *operator&() { return &m_str; }
    BSTR Detach()
    {
        BSTR s = m_str;
        m_str = nullptr;
        return s;
    }
    void Empty()
    {
        SysFreeString(m_str);
        m_str = nullptr;
    }
    QString toQString() const { return nyx::com::fromBstr(m_str); }

    BSTR m_str = nullptr;
};
