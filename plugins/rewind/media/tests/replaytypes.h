#pragma once
// The QML types of a replay as the client builds it (a session, RewindSource -> VideoDecoder -> a
// ShownFrames output per camera), registered under a test's own module name.

#include "mediasession.h"
#include "nodeconnection.h"
#include "rewindsource.h"
#include "shownframes.h"
#include "stream.h"

#include "multimedia/nodes/videodecodernode.h"

#include <QQmlEngine>

inline void registerReplayTypes(const char *uri)
{
    qmlRegisterType<MediaSession>(uri, 1, 0, "MediaSession");
    qmlRegisterType<NodeConnection>(uri, 1, 0, "NodeConnection");
    qmlRegisterType<RewindSource>(uri, 1, 0, "RewindSource");
    qmlRegisterType<VideoDecoderNode>(uri, 1, 0, "VideoDecoder");
    qmlRegisterType<ShownFrames>(uri, 1, 0, "ShownFrames");
    qmlRegisterUncreatableType<Stream>(uri, 1, 0, "Stream", QStringLiteral("made by the service"));
    qmlRegisterUncreatableType<NodeOutput>(uri, 1, 0, "NodeOutput", QStringLiteral("made by nodes"));
    qmlRegisterUncreatableType<NodeInput>(uri, 1, 0, "NodeInput", QStringLiteral("made by nodes"));
}
