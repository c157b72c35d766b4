#include "multimedia/engines/networksource.h"

#include "codecs/h264picturesize.h"
#include "multimedia/engines/avhelpers.h"
#include "multimedia/engines/localfileinput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace nyx::multimedia {

namespace {
enum class RunResult
{
    Lost,
    Ended,
    Fatal,
    Stopped
};

qint64 monotonicMs()
{
    return av_gettime_relative() / 1000;
}
} // namespace

struct NetworkSource::Private
{
    QUrl url;
    Callbacks callbacks;
    Options options;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<qint64> deadlineMs{0};
    std::atomic<Status> status{Status::Idle};
    std::atomic<int> reconnects{0};
    std::mutex mutex;
    std::condition_variable cond;

    void run();
    RunResult runOnce();
    void setStatus(Status s, const QString &message = {});
    QByteArray inputName() const;
    bool isFile() const { return url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) == 0; }
    void armDeadline() { deadlineMs = monotonicMs() + options.ioTimeoutMs; }

    static int interrupt(void *opaque)
    {
        auto *self = static_cast<Private *>(opaque);
        return self->stopping.load() || monotonicMs() > self->deadlineMs.load();
    }
};

NetworkSource::NetworkSource(const QUrl &url, Callbacks callbacks, Options options)
    : d(std::make_unique<Private>())
{
    d->url = url;
    d->callbacks = std::move(callbacks);
    d->options = options;
}

NetworkSource::NetworkSource(const QUrl &url, Callbacks callbacks)
    : NetworkSource(url, std::move(callbacks), Options())
{
}

NetworkSource::~NetworkSource()
{
    stop();
}

bool NetworkSource::isSupported(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("rtsp") || scheme == QLatin1String("rtmp") ||
           scheme == QLatin1String("http") || scheme == QLatin1String("file");
}

QUrl NetworkSource::url() const
{
    return d->url;
}

void NetworkSource::start()
{
    if (d->thread.joinable())
        return;
    d->stopping = false;
    d->thread = std::thread([this] { d->run(); });
}

void NetworkSource::stop()
{
    if (!d->thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->cond.notify_all();
    d->thread.join();
    d->status = Status::Idle;
}

NetworkSource::Status NetworkSource::status() const
{
    return d->status;
}

int NetworkSource::reconnectCount() const
{
    return d->reconnects;
}

void NetworkSource::Private::setStatus(Status s, const QString &message)
{
    status = s;
    if (callbacks.status)
        callbacks.status(s, message);
}

QByteArray NetworkSource::Private::inputName() const
{
    if (isFile())
        return QFile::encodeName(url.toLocalFile());
    return url.toEncoded();
}

void NetworkSource::Private::run()
{
    if (!isSupported(url)) {
        qCWarning(lcEngines) << "Network source: unsupported URL" << url.toString();
        setStatus(Status::Failed, QStringLiteral("unsupported URL"));
        return;
    }
    setStatus(Status::Connecting);
    for (;;) {
        const RunResult result = runOnce();
        if (result == RunResult::Stopped || stopping)
            return;
        if (result == RunResult::Ended) {
            setStatus(Status::Ended);
            return;
        }
        if (result == RunResult::Fatal)
            return;
        ++reconnects;
        std::unique_lock<std::mutex> lock(mutex);
        if (cond.wait_for(lock, std::chrono::milliseconds(options.reconnectDelayMs),
                          [this] { return stopping.load(); }))
            return;
    }
}

RunResult NetworkSource::Private::runOnce()
{
    AVFormatContext *fmt = avformat_alloc_context();
    AVBSFContext *bsf = nullptr;
    AVPacket *packet = av_packet_alloc();
    LocalFileInput file;
    auto cleanup = [&] {
        av_bsf_free(&bsf);
        avformat_close_input(&fmt);
        file.close(); // after the context that reads from it
        av_packet_free(&packet);
    };
    auto lost = [&](const QString &what, int code) {
        const QString message = what + QStringLiteral(": ") + avErrorString(code);
        cleanup();
        if (stopping)
            return RunResult::Stopped;
        qCWarning(lcEngines).noquote()
            << "Network source" << url.toDisplayString() << "lost:" << message << "- reconnecting";
        setStatus(Status::Reconnecting, message);
        return RunResult::Lost;
    };
    if (!fmt || !packet) {
        cleanup();
        return RunResult::Lost;
    }
    fmt->interrupt_callback.callback = &Private::interrupt;
    fmt->interrupt_callback.opaque = this;
    if (isFile()) {
        QString refusal;
        const int opened = file.open(url.toLocalFile(), &refusal);
        if (!refusal.isEmpty()) {
            // Not a clip and never going to become one: reopening would only say so every second.
            const QString message =
                url.toLocalFile() + QStringLiteral(" is ") + refusal + QStringLiteral(", not a regular file");
            cleanup();
            qCWarning(lcEngines).noquote()
                << "Network source" << url.toDisplayString() << "cannot play:" << message;
            setStatus(Status::Failed, message);
            return RunResult::Fatal;
        }
        if (opened < 0)
            return lost(QStringLiteral("cannot open"), opened);
        fmt->pb = file.io();
        fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    }

    AVDictionary *opts = nullptr;
    if (url.scheme().compare(QLatin1String("rtsp"), Qt::CaseInsensitive) == 0)
        av_dict_set(&opts, "rtsp_transport", "tcp", 0);
    armDeadline();
    int rc = avformat_open_input(&fmt, inputName().constData(), nullptr, &opts);
    av_dict_free(&opts);
    if (rc < 0)
        return lost(QStringLiteral("cannot open"), rc);
    armDeadline();
    {
        // The probe decodes pictures: a stream announcing huge ones must not make it allocate them.
        std::vector<AVDictionary *> probeOptions(fmt->nb_streams, nullptr);
        for (AVDictionary *&o : probeOptions)
            av_dict_set_int(&o, "max_pixels", nyx::codecs::h264::kDecoderPixelLimit, 0);
        rc = avformat_find_stream_info(fmt, probeOptions.empty() ? nullptr : probeOptions.data());
        for (AVDictionary *&o : probeOptions)
            av_dict_free(&o);
    }
    if (rc < 0)
        return lost(QStringLiteral("cannot read the stream format"), rc);
    const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0 || fmt->streams[index]->codecpar->codec_id != AV_CODEC_ID_H264) {
        cleanup();
        qCWarning(lcEngines) << "Network source" << url.toDisplayString() << "carries no H.264 video";
        setStatus(Status::Failed, QStringLiteral("no H.264 video stream"));
        return RunResult::Fatal;
    }
    AVStream *stream = fmt->streams[index];
    // A size not known yet (0) is the decoder's to check.
    if (stream->codecpar->width > 0 && stream->codecpar->height > 0 &&
        !nyx::codecs::h264::pictureSizeAllowed(stream->codecpar->width, stream->codecpar->height)) {
        const QString message =
            QStringLiteral("the stream announces %1x%2 pictures, larger than the %3x%4 "
                           "the decoder takes")
                .arg(stream->codecpar->width)
                .arg(stream->codecpar->height)
                .arg(nyx::codecs::h264::kMaxPictureSide)
                .arg(nyx::codecs::h264::kMaxPicturePixels / nyx::codecs::h264::kMaxPictureSide);
        cleanup();
        qCWarning(lcEngines).noquote() << "Network source" << url.toDisplayString() << "refused:" << message;
        setStatus(Status::Failed, message);
        return RunResult::Fatal;
    }
    // Length-prefixed H.264 (MP4, FLV) announces itself by avcC extradata, whose first byte is 1.
    const bool lengthPrefixed = stream->codecpar->extradata_size > 0 && stream->codecpar->extradata[0] == 1;
    if (lengthPrefixed) {
        const AVBitStreamFilter *filter = av_bsf_get_by_name("h264_mp4toannexb");
        rc = filter ? av_bsf_alloc(filter, &bsf) : AVERROR_BSF_NOT_FOUND;
        if (rc >= 0)
            rc = avcodec_parameters_copy(bsf->par_in, stream->codecpar);
        if (rc >= 0) {
            bsf->time_base_in = stream->time_base;
            rc = av_bsf_init(bsf);
        }
        if (rc < 0) {
            cleanup();
            setStatus(Status::Failed, QStringLiteral("no Annex-B conversion: ") + avErrorString(rc));
            return RunResult::Fatal;
        }
    }

    Format format;
    format.size = QSize(stream->codecpar->width, stream->codecpar->height);
    const AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        format.frameRateNumerator = rate.num;
        format.frameRateDenominator = rate.den;
    }
    if (!lengthPrefixed && stream->codecpar->extradata_size > 0)
        format.parameterSets = QByteArray(reinterpret_cast<const char *>(stream->codecpar->extradata),
                                          stream->codecpar->extradata_size);
    if (callbacks.format)
        callbacks.format(format);
    setStatus(Status::Playing);

    bool discontinuity = true;
    const AVRational hns{1, 10000000};
    auto deliver = [&](AVPacket *p) {
        H264Packet out;
        out.data = QByteArray(reinterpret_cast<const char *>(p->data), p->size);
        const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        out.time = ts == AV_NOPTS_VALUE ? 0 : av_rescale_q(ts, stream->time_base, hns);
        out.duration = av_rescale_q(p->duration, stream->time_base, hns);
        out.keyFrame = p->flags & AV_PKT_FLAG_KEY;
        if (callbacks.packet)
            callbacks.packet(out, discontinuity);
        discontinuity = false;
    };

    for (;;) {
        if (stopping) {
            cleanup();
            return RunResult::Stopped;
        }
        armDeadline();
        rc = av_read_frame(fmt, packet);
        if (rc == AVERROR_EOF && isFile()) {
            cleanup();
            return RunResult::Ended;
        }
        if (rc < 0)
            return lost(
                rc == AVERROR_EOF ? QStringLiteral("connection closed") : QStringLiteral("read failed"), rc);
        if (packet->stream_index != index) {
            av_packet_unref(packet);
            continue;
        }
        if (!bsf) {
            deliver(packet);
            av_packet_unref(packet);
            continue;
        }
        rc = av_bsf_send_packet(bsf, packet);
        av_packet_unref(packet);
        if (rc < 0)
            return lost(QStringLiteral("Annex-B conversion failed"), rc);
        while ((rc = av_bsf_receive_packet(bsf, packet)) == 0) {
            deliver(packet);
            av_packet_unref(packet);
        }
        if (rc != AVERROR(EAGAIN))
            return lost(QStringLiteral("Annex-B conversion failed"), rc);
    }
}

} // namespace nyx::multimedia
