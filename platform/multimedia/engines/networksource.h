#pragma once
// The network camera engine: reads H.264 from an rtsp://, rtmp://, http:// or file:// URL with
// libavformat and hands the compressed pictures on unchanged (Annex-B; MP4/FLV-style length-prefixed
// streams are rewritten by the h264_mp4toannexb bitstream filter). A lost connection is reopened after
// a delay, on the engine's own thread, until stop(); the caller is never blocked by the network.
// A file:// URL must name a regular file: a named pipe, a device or a folder fails the source.

#include "multimedia/engines/h264encoder.h"

#include <QFile>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace nyx::multimedia {

class NetworkSource
{
public:
    enum class Status
    {
        Idle,
        Connecting,
        Playing,
        Reconnecting,
        Ended,
        Failed
    };

    struct Format
    {
        QSize size;
        int frameRateNumerator = 0; // 0 when the container does not say
        int frameRateDenominator = 1;
        QByteArray parameterSets; // SPS/PPS in Annex-B, possibly empty (then in-band only)
    };

    // All callbacks run on the engine's thread; they must not call stop() or destroy the engine.
    struct Callbacks
    {
        // Every picture; discontinuity is true on the first one after a (re)connection.
        std::function<void(const H264Packet &packet, bool discontinuity)> packet;
        // Each change of status, with a message for Reconnecting and Failed.
        std::function<void(Status status, const QString &message)> status;
        // The stream's format, after each successful connection.
        std::function<void(const Format &format)> format;
    };

    struct Options
    {
        int reconnectDelayMs = 1000;
        // A connection that delivers nothing for this long counts as lost.
        int ioTimeoutMs = 5000;
    };

    NetworkSource(const QUrl &url, Callbacks callbacks, Options options);
    explicit NetworkSource(const QUrl &url, Callbacks callbacks = {});
    ~NetworkSource();
    NetworkSource(const NetworkSource &) = delete;
    NetworkSource &operator=(const NetworkSource &) = delete;

    static bool isSupported(const QUrl &url);

    QUrl url() const;
    // Starts the engine's thread; does nothing when it runs.
    void start();
    // Interrupts any pending network operation and joins the thread (returns within about the time
    // one callback takes).
    void stop();
    Status status() const;
    // How many times a lost or failed connection was retried.
    int reconnectCount() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace nyx::multimedia
