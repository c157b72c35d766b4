#pragma once
// Named data channels of an archive stream, shared with the media pipeline.

#include "archive/iarchivestream.h"

#include <QString>

// S_OK with the id of an existing channel stored with the same flag, S_FALSE when it was stored
// with another flag, otherwise the result of creating it; E_POINTER without a stream.
HRESULT findOrCreateChannel(IArchiveStream *stream, const QString &name, bool flag, DWORD *channelId);
