#include "multimedia/mediasession.h"

#include <QCoreApplication>

#include "multimedia/medianode.h"
#include "multimedia/nodeconnection.h"
#include "multimedia/sessioncore.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {
// The same sources' streams feeding the same sinks.
bool sameRoutes(const std::vector<nyx::multimedia::SessionCore::Route> &a,
                const std::vector<nyx::multimedia::SessionCore::Route> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) {
        return x.source == y.source && x.streamId == y.streamId && x.sink == y.sink;
    });
}
} // namespace

MediaSession::MediaSession(QObject *parent)
    : QObject(parent), m_core(std::make_shared<nyx::multimedia::SessionCore>())
{
    QPointer<MediaSession> self(this);
    m_core->setErrorHandler([self](HRESULT hr) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, hr]() {
                if (self)
                    emit self->error(hr);
            },
            Qt::QueuedConnection);
    });
}

MediaSession::~MediaSession()
{
    m_core->setErrorHandler(nullptr);
    m_core->shutdown();
}

QQmlListProperty<QObject> MediaSession::nodes()
{
    return QQmlListProperty<QObject>(this, nullptr, &MediaSession::appendNode, &MediaSession::nodeCount,
                                     &MediaSession::nodeAt, &MediaSession::clearNodes);
}

void MediaSession::addNode(QObject *node)
{
    if (!node || m_nodes.contains(node))
        return;
    m_nodes.append(node);
    if (m_complete)
        watch(node);
}

void MediaSession::appendNode(QQmlListProperty<QObject> *list, QObject *node)
{
    static_cast<MediaSession *>(list->object)->addNode(node);
}

int MediaSession::nodeCount(QQmlListProperty<QObject> *list)
{
    return static_cast<MediaSession *>(list->object)->m_nodes.size();
}

QObject *MediaSession::nodeAt(QQmlListProperty<QObject> *list, int index)
{
    return static_cast<MediaSession *>(list->object)->m_nodes.value(index);
}

void MediaSession::clearNodes(QQmlListProperty<QObject> *list)
{
    static_cast<MediaSession *>(list->object)->m_nodes.clear();
}

void MediaSession::componentComplete()
{
    m_complete = true;
    for (QObject *node : qAsConst(m_nodes))
        watch(node);
    maybeAutoPlay();
}

void MediaSession::watch(QObject *node)
{
    if (auto *mediaNode = qobject_cast<MediaNode *>(node))
        connect(mediaNode, &MediaNode::statusChanged, this, &MediaSession::maybeAutoPlay,
                Qt::QueuedConnection);
    else if (auto *connection = qobject_cast<NodeConnection *>(node))
        connect(connection, &NodeConnection::connectedChanged, this, &MediaSession::maybeAutoPlay,
                Qt::QueuedConnection);
}

void MediaSession::setAutoPlay(bool autoPlay)
{
    if (m_autoPlay == autoPlay)
        return;
    m_autoPlay = autoPlay;
    emit autoPlayChanged();
    maybeAutoPlay();
}

void MediaSession::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    emit enabledChanged();
    if (!enabled)
        stop();
    else
        maybeAutoPlay();
}

void MediaSession::setRate(double rate)
{
    // 0 scrubs: the clock stands and the sources hand out what the sinks ask for. No reverse play.
    if (qFuzzyCompare(m_rate, rate) || rate < 0)
        return;
    m_rate = rate;
    if (m_playing)
        m_core->setRate(static_cast<float>(rate));
    emit rateChanged();
}

void MediaSession::setPosition(double position)
{
    if (qFuzzyCompare(m_position, position))
        return;
    m_position = position;
    emit positionChanged();
}

QList<NodeConnection *> MediaSession::connections() const
{
    QList<NodeConnection *> list;
    for (QObject *node : m_nodes)
        if (auto *connection = qobject_cast<NodeConnection *>(node))
            list.append(connection);
    return list;
}

bool MediaSession::isGraphReady() const
{
    const auto list = connections();
    if (list.isEmpty())
        return false;
    for (NodeConnection *connection : list) {
        if (!connection->from() || !connection->to() || !connection->from()->isBound() ||
            !connection->to()->isBound())
            return false;
    }
    return true;
}

void MediaSession::maybeAutoPlay()
{
    if (!m_complete || !m_enabled || !isGraphReady())
        return;
    if (m_playing) {
        // A node made its objects anew while the session runs (a new range or stream), or a start
        // waited for it: the running routes lead to the old objects, which give nothing more (or
        // the old media). Start again on the new ones once every node is ready, at the position of
        // the last start, paused again if it was.
        if (isRebuilding())
            return;
        if (!sameRoutes(routes(), m_running)) {
            const bool paused = m_paused;
            play();
            if (paused)
                pause();
        }
        return;
    }
    if (m_autoPlay)
        play();
}

bool MediaSession::isRebuilding() const
{
    for (QObject *object : m_nodes) {
        auto *node = qobject_cast<MediaNode *>(object);
        // Still bound to its old objects while it makes new ones.
        if (node && (node->isCreatePending() ||
                     (node->status() == MediaNode::StatusCreating && !node->mfNodes().isEmpty())))
            return true;
    }
    return false;
}

std::vector<nyx::multimedia::SessionCore::Route> MediaSession::routes() const
{
    std::vector<nyx::multimedia::SessionCore::Route> list;
    for (NodeConnection *connection : connections()) {
        NodeOutput *from = connection->from();
        NodeInput *to = connection->to();
        if (!from || !to || !from->isBound() || !to->isBound())
            continue;
        nyx::multimedia::SessionCore::Route route;
        route.source = from->mediaSource();
        route.descriptor = from->presentationDescriptor();
        if (auto descriptor = from->streamDescriptor())
            descriptor->GetStreamIdentifier(&route.streamId);
        route.sink = to->streamSink();
        route.type = to->getConnectedMfMediaType();
        if (route.source && route.descriptor && route.sink)
            list.push_back(route);
    }
    return list;
}

qint64 MediaSession::missedSamples() const
{
    return m_core->missedSamples();
}

int MediaSession::sinkErrors() const
{
    return m_core->sinkErrors();
}

void MediaSession::setPlaying(bool playing)
{
    if (m_playing == playing)
        return;
    m_playing = playing;
    emit playingChanged();
}

void MediaSession::play()
{
    if (!m_enabled)
        return;
    m_paused = false;
    if (m_playing && isRebuilding()) {
        // A node is about to make its objects anew (a new range): the start waits for them
        // (maybeAutoPlay), as the old ones would play the old media meanwhile.
        m_core->stop();
        m_running.clear();
        return;
    }
    const std::vector<nyx::multimedia::SessionCore::Route> routes = this->routes();
    if (routes.empty())
        return;
    if (m_playing)
        m_core->stop();
    // Rounded, not truncated: a position on a frame's start (seconds from milliseconds) must not
    // land a hair before it, in the frame before.
    const LONGLONG position = std::llround(m_position * 1e7);
    // A fresh start is a start at a position: a seekable source seeks there (to its key frame), and
    // the sinks show the frame at the position first. The rate always goes with it: one set while
    // stopped reaches the clock and the sources only now.
    const HRESULT hr = m_core->start(routes, position, true, static_cast<float>(m_rate));
    m_running = routes;
    if (FAILED(hr)) {
        m_core->stop();
        m_running.clear();
        setPlaying(false);
        emit error(hr);
        return;
    }
    setPlaying(true);
}

void MediaSession::pause()
{
    if (!m_playing)
        return;
    m_core->pause();
    m_paused = true;
}

void MediaSession::stop()
{
    if (!m_playing)
        return;
    m_core->stop();
    m_running.clear();
    m_paused = false;
    setPlaying(false);
}
