#pragma once
// A network camera as a graph node (QML: NetworkSource { url: "rtsp://..." }): H.264 from rtsp://,
// rtmp://, http:// or file:// passed through unchanged on its output. The output exists once the
// stream's format is known. A camera is live: its pictures are stamped on arrival and those nobody
// asked for are dropped; a file:// clip is read as fast as its consumer asks, every picture kept,
// stamped with its own time from the clip's start. A lost connection is retried on the engine's
// thread (warnings in the log); the GUI thread never waits for the network.

#include "multimedia/medianode.h"

#include <QUrl>

#include <memory>

namespace nyx::multimedia {
class NetworkSource;
}

class NetworkSourceNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(QUrl url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)

public:
    explicit NetworkSourceNode(QObject *parent = nullptr);
    ~NetworkSourceNode() override;

    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url);
    NodeOutput *output() const { return getOutput(0); }

    void cancel() override {}
    void create() override;

signals:
    void urlChanged();

private:
    struct Shared;
    void bindOutput(int width, int height, int rateNum, int rateDen);
    void release();

    QUrl m_url;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<nyx::multimedia::NetworkSource> m_engine;
    CComPtr<IMFMediaSource> m_source;
};
