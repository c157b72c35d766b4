#include "com/guid.h"

#include <QRegularExpression>

namespace nyx::com {
QUuid toQUuid(const GUID &g)
{
    return QUuid(g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                 g.Data4[5], g.Data4[6], g.Data4[7]);
}

GUID fromQUuid(const QUuid &u)
{
    GUID g;
    g.Data1 = u.data1;
    g.Data2 = u.data2;
    g.Data3 = u.data3;
    std::memcpy(g.Data4, u.data4, 8);
    return g;
}

QString toString(const GUID &guid)
{
    return toQUuid(guid).toString(QUuid::WithBraces).toUpper();
}

bool parseGuid(const QString &text, GUID *guid)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}$"));
    if (!guid || !pattern.match(text).hasMatch())
        return false;
    *guid = fromQUuid(QUuid(text));
    return true;
}
} // namespace nyx::com

namespace {
QString fromOleString(LPCOLESTR text)
{
    int length = 0;
    while (text[length] && length < 64)
        ++length;
    return QString::fromUtf16(text, length);
}
} // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID *clsid)
{
    if (!text || !clsid)
        return E_INVALIDARG;
    if (!nyx::com::parseGuid(fromOleString(text), clsid)) {
        *clsid = GUID_NULL;
        return CO_E_CLASSSTRING;
    }
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID *iid)
{
    if (!text || !iid)
        return E_INVALIDARG;
    if (!nyx::com::parseGuid(fromOleString(text), iid)) {
        *iid = GUID_NULL;
        return E_INVALIDARG;
    }
    return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity)
{
    const QString text = nyx::com::toString(guid);
    if (!buffer || capacity < text.size() + 1)
        return 0;
    for (int i = 0; i < text.size(); ++i)
        buffer[i] = text.at(i).unicode();
    buffer[text.size()] = 0;
    return text.size() + 1;
}
