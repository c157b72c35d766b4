#pragma once
// RPC UUID functions: new random UUIDs and their text form.

#include "com/guid.h"

using UUID = GUID;
using RPC_STATUS = LONG;
using RPC_WSTR = WCHAR *;

constexpr RPC_STATUS RPC_S_OK = 0;
constexpr RPC_STATUS RPC_S_OUT_OF_MEMORY = 14;
constexpr RPC_STATUS RPC_S_INVALID_ARG = 87;

RPC_STATUS UuidCreate(UUID *uuid);
// The lower-case text without braces, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"; free with RpcStringFreeW.
RPC_STATUS UuidToStringW(const UUID *uuid, RPC_WSTR *text);
RPC_STATUS RpcStringFreeW(RPC_WSTR *text);
