#pragma once
// A capture input of the board as a graph node (QML: KXSource { url: "kx:///KX788 Board 1 Input 1" }):
// 1920x1080 NV12 at 25 fps for a video input, 48 kHz 16-bit stereo PCM for an audio input, produced
// live while its session plays, stamped with the session's presentation time.

#include "multimedia/medianode.h"

#include <QUrl>

class KXSourceNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(QUrl url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)

public:
    explicit KXSourceNode(QObject *parent = nullptr);
    ~KXSourceNode() override;

    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url);
    NodeOutput *output() const { return getOutput(0); }

    void cancel() override {}
    void create() override;

signals:
    void urlChanged();

private:
    void release();

    QUrl m_url;
    CComPtr<IMFMediaSource> m_source;
};
