#include "archivechannel.h"

HRESULT findOrCreateChannel(IArchiveStream *stream, const QString &name, bool flag, DWORD *channelId)
{
    if (!stream || !channelId)
        return E_POINTER;
    CComBSTR text(name);
    BYTE stored = 0;
    const HRESULT hr = stream->FindChannel(text, &stored, channelId);
    if (SUCCEEDED(hr))
        return stored != static_cast<BYTE>(flag ? 1 : 0) ? S_FALSE : S_OK;
    return stream->CreateChannel(text, flag ? 1 : 0, channelId);
}
