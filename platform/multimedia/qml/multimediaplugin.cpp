#include "multimediaplugin.h"

#include "multimedia/activator.h"
#include "multimedia/medianode.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodeconnection.h"
#include "multimedia/nodes/audiooutputnode.h"
#include "multimedia/nodes/h264encodernode.h"
#include "multimedia/nodes/networksourcenode.h"
#include "multimedia/nodes/runninglinesourcenode.h"
#include "multimedia/nodes/videodecodernode.h"
#include "multimedia/nodes/videooutputnode.h"

#include <QtQml>

void MultimediaPlugin::registerTypes(const char *uri)
{
    nyx::multimedia::registerMetaTypes();
    qmlRegisterType<MediaSession>(uri, 1, 0, "MediaSession");
    qmlRegisterType<NodeConnection>(uri, 1, 0, "NodeConnection");
    qmlRegisterType<NodeOutput>(uri, 1, 0, "NodeOutput");
    qmlRegisterType<NodeInput>(uri, 1, 0, "NodeInput");
    qmlRegisterType<RunningLineSourceNode>(uri, 1, 0, "RunningLineSource");
    qmlRegisterType<H264EncoderNode>(uri, 1, 0, "H264Encoder");
    qmlRegisterType<VideoOutputNodeItem>(uri, 1, 0, "VideoOutput");
    qmlRegisterType<NetworkSourceNode>(uri, 1, 0, "NetworkSource");
    qmlRegisterType<VideoDecoderNode>(uri, 1, 0, "VideoDecoder");
    qmlRegisterType<AudioOutputNode>(uri, 1, 0, "AudioOutput");
    qmlRegisterUncreatableType<NodePin>(uri, 1, 0, "NodePin", QStringLiteral("NodePin is a pin of a node"));
    qmlRegisterUncreatableType<MediaNode>(uri, 1, 0, "MediaNode", QStringLiteral("MediaNode is abstract"));
}
