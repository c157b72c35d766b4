#include "win32/rpcuuid.h"

#include <QUuid>
#include <cstdio>
#include <new>

RPC_STATUS UuidCreate(UUID *uuid)
{
    if (!uuid)
        return RPC_S_INVALID_ARG;
    const QUuid q = QUuid::createUuid();
    uuid->Data1 = q.data1;
    uuid->Data2 = q.data2;
    uuid->Data3 = q.data3;
    for (int i = 0; i < 8; ++i)
        uuid->Data4[i] = q.data4[i];
    return RPC_S_OK;
}

RPC_STATUS UuidToStringW(const UUID *uuid, RPC_WSTR *text)
{
    if (!uuid || !text)
        return RPC_S_INVALID_ARG;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", uuid->Data1,
                  uuid->Data2, uuid->Data3, uuid->Data4[0], uuid->Data4[1], uuid->Data4[2], uuid->Data4[3],
                  uuid->Data4[4], uuid->Data4[5], uuid->Data4[6], uuid->Data4[7]);
    WCHAR *out = new (std::nothrow) WCHAR[37];
    if (!out)
        return RPC_S_OUT_OF_MEMORY;
    for (int i = 0; i < 36; ++i)
        out[i] = static_cast<WCHAR>(buffer[i]);
    out[36] = 0;
    *text = out;
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeW(RPC_WSTR *text)
{
    if (!text)
        return RPC_S_INVALID_ARG;
    delete[] * text;
    *text = nullptr;
    return RPC_S_OK;
}
