#pragma once
// The graph node that plays the part of an archive stream between two times: it waits until the
// archive holds data there, has a RewindSourceMF built on the stream's worker thread and offers
// the source's audio and video as output pins.

#include "multimedia/activator.h"
#include "multimedia/medianode.h"
#include "multimedia/source/isource.h"

#include <QDateTime>
#include <QPointer>

#include "stream.h"

class Range;

class RewindSource : public MediaNodeWithFrameHistory
{
    Q_OBJECT
    Q_PROPERTY(NodeOutput *videoOutput READ videoOutput NOTIFY videoOutputChanged)
    Q_PROPERTY(NodeOutput *audioOutput READ audioOutput NOTIFY audioOutputChanged)
    Q_PROPERTY(QDateTime from READ from WRITE setFrom NOTIFY timeFromChanged)
    Q_PROPERTY(QDateTime to READ to WRITE setTo NOTIFY timeToChanged)
    Q_PROPERTY(Stream *stream READ stream WRITE setStream NOTIFY streamChanged)
    Q_PROPERTY(double quality READ quality WRITE setQuality NOTIFY qualityChanged)
    // What the decoder behind the video output should leave out, from the service's playback
    // tuning: the forward rate from which only key frames are decoded, and whether only key frames
    // are decoded at this quality (a preview, when the tuning says so).
    Q_PROPERTY(double keyFrameOnlyRate READ keyFrameOnlyRate NOTIFY tuningChanged)
    Q_PROPERTY(bool keyFramesOnly READ keyFramesOnly NOTIFY tuningChanged)

public:
    explicit RewindSource(QObject *parent = nullptr);
    ~RewindSource() override;

    NodeOutput *videoOutput() const { return getOutput(m_videoOutput); }
    NodeOutput *audioOutput() const { return getOutput(m_audioOutput); }
    QDateTime from() const { return m_from; }
    void setFrom(const QDateTime &time);
    QDateTime to() const { return m_to; }
    void setTo(const QDateTime &time);
    Stream *stream() const { return m_stream.data(); }
    void setStream(Stream *stream);
    double quality() const { return m_quality; }
    void setQuality(double quality);
    double keyFrameOnlyRate() const;
    bool keyFramesOnly() const;

    void cancel() override;
    void create() override;
    FrameHistory *frameHistory() override;

    // The built source (null before the first build).
    CComPtr<nyx::ISource> source() const { return m_source; }
    Range *range() const { return m_range; }

signals:
    void streamChanged();
    void videoOutputChanged();
    void audioOutputChanged();
    void timeFromChanged();
    void timeToChanged();
    void qualityChanged();
    // The tuning is read when the archive service starts, and applies to the quality.
    void tuningChanged();

public slots:
    void onActivated(CComPtr<IUnknown> object, ComException error);
    void onRangeSizeChanged();

private:
    int m_videoOutput = -1;
    int m_audioOutput = -1;
    QPointer<Stream> m_stream;
    CComPtr<nyx::ISource> m_source;
    QDateTime m_from;
    QDateTime m_to;
    double m_quality = 0.0;
    // QML has set a quality: a new source gets it instead of the configured default.
    bool m_qualitySet = false;
    Activator *m_activator = nullptr;
    Range *m_range = nullptr;
    bool m_createPending = false;
};
