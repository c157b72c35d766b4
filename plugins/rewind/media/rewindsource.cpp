#include "rewindsource.h"

#include "irewindsource.h"
#include "rewindsourcelogging.h"
#include "rewindsourcemf.h"

#include "archivetime.h"
#include "playbacktuning.h"
#include "range.h"
#include "stream.h"
#include "streamupdater.h"

#include "com/guid.h"
#include "multimedia/mediasourcenode.h"
#include "win32/debugoutput.h"

#include <QThread>

namespace {
constexpr quint64 kOpenEnd = 9223372036854775807ULL;

// The build step: runs on the stream's worker thread, with copies of what it needs from the
// Stream (never the Stream itself).
CComPtr<IUnknown> createRewindSource(QSharedPointer<StreamUpdater> updater, bool isAudio, int decoderKind,
                                     int decoderIndex, quint64 from, quint64 to)
{
    int step = 1;
    try {
        HRESULT hr = S_OK;
        CComPtr<RewindSourceMF> source(new RewindSourceMF(hr));
        if (FAILED(hr))
            throw ComException(hr, QStringLiteral("Error"));
        if (!source)
            throw ComException(E_POINTER, QStringLiteral("Null pointer"));
        step = 2;
        CComPtr<IRewindServer> server;
        if (updater)
            server.Attach(updater->server());
        if (!server)
            throw ComException(E_POINTER, QStringLiteral("Null pointer"));
        CComPtr<IArchiveStream> stream;
        hr = server->OpenStream(nyx::com::fromQUuid(updater->guid()), &stream);
        if (FAILED(hr))
            throw ComException(hr, QStringLiteral("Error"));
        step = 3;
        hr = source->initialize(server, stream, isAudio, decoderKind, decoderIndex, from, to);
        if (FAILED(hr))
            throw ComException(hr, QStringLiteral("Error"));
        step = 4;
        return CComPtr<IUnknown>(static_cast<IMFMediaSourceEx *>(source.p));
    } catch (const ComException &e) {
        qCCritical(lcRewindSourceNode).nospace() << "createRewindSource, step=" << step << " ERROR:" << e;
        return nullptr;
    }
}

CComPtr<IRewindSource> rewindControl(nyx::ISource *source)
{
    CComPtr<IRewindSource> control;
    if (source)
        source->QueryInterface(IID_IRewindSource, reinterpret_cast<void **>(&control));
    return control;
}
} // namespace

RewindSource::RewindSource(QObject *parent) : MediaNodeWithFrameHistory(parent), m_range(new Range(this))
{
    connect(this, &MediaNode::outputsChanged, this, &RewindSource::videoOutputChanged);
    connect(this, &MediaNode::outputsChanged, this, &RewindSource::audioOutputChanged);
    connect(m_range, &Range::sizeChanged, this, &RewindSource::onRangeSizeChanged);
}

RewindSource::~RewindSource()
{
    delete m_range;
    m_range = nullptr;
    delete m_activator;
    m_activator = nullptr;
    m_source.Release();
}

void RewindSource::setStream(Stream *stream)
{
    m_range->setStream(stream);
    if (stream == m_stream.data())
        return;
    m_stream = stream;
    requestCreate();
    emit streamChanged();
}

void RewindSource::setFrom(const QDateTime &time)
{
    m_range->setFrom(time);
    if (time == m_from)
        return;
    m_from = time;
    requestCreate();
    emit timeFromChanged();
}

void RewindSource::setTo(const QDateTime &time)
{
    m_range->setTo(time);
    if (time == m_to)
        return;
    m_to = time;
    if (auto control = rewindControl(m_source))
        control->setEndTime(static_cast<LONGLONG>(toWin32FileTime(time, kOpenEnd)));
    emit timeToChanged();
}

void RewindSource::setQuality(double quality)
{
    m_qualitySet = true;
    if (quality == m_quality)
        return;
    m_quality = quality;
    if (auto control = rewindControl(m_source))
        control->setQuality(quality);
    emit qualityChanged();
    emit tuningChanged();
}

double RewindSource::keyFrameOnlyRate() const
{
    return double(PlaybackTuning::current().IFrameOnlySpeedLimit);
}

bool RewindSource::keyFramesOnly() const
{
    const PlaybackTuning &tuning = PlaybackTuning::current();
    const double quality = m_qualitySet ? m_quality : double(tuning.DefQuality);
    return tuning.Force2IFrame4Preview && quality < double(tuning.Quality4View);
}

void RewindSource::cancel()
{
    if (m_activator)
        m_activator->cancel();
}

FrameHistory *RewindSource::frameHistory()
{
    auto control = rewindControl(m_source);
    return control ? control->frameHistory() : nullptr;
}

void RewindSource::create()
{
    emit tuningChanged();
    if (!m_stream) {
        qCCritical(lcRewindSourceNode) << "RewindSource::create ERROR #1 - No stream";
        OutputDebugStringA("\n\nRewindSource::create ERROR #1 - NO STREAM\n\n");
        setStatus(StatusNone);
        return;
    }
    if (m_from.isNull() && m_to.isNull()) {
        qCCritical(lcRewindSourceNode) << "RewindSource::create ERROR #2 - Empty times";
        OutputDebugStringA("\n\nRewindSource::create ERROR #2 - EMPTY TIMES\n\n");
        setStatus(StatusNone);
        return;
    }
    const quint64 from = toWin32FileTime(m_from, 0);
    const quint64 to = toWin32FileTime(m_to, kOpenEnd);
    if (!(from < to)) {
        qCCritical(lcRewindSourceNode) << "RewindSource::create ERROR #3 - wrang times: to < from";
        OutputDebugStringA("\n\nRewindSource::create ERROR #3 - WRANG TIMES: TO < FROM\n\n");
        setStatus(StatusNone);
        return;
    }
    if (m_range->size() == -1 || m_range->size() == 0) {
        setStatus(StatusCreating);
        m_createPending = true;
        return;
    }
    m_createPending = false;
    if (m_source)
        m_source->Disable();
    if (!m_activator) {
        m_activator = new Activator(m_stream->thread().data(), this);
        connect(m_activator, &Activator::activated, this, &RewindSource::onActivated);
    }
    auto step = [updater = m_stream->updater(), isAudio = m_stream->isAudio(), kind = m_stream->decoderKind(),
                 index = m_stream->decoderIndex(), from,
                 to]() { return createRewindSource(updater, isAudio, kind, index, from, to); };
    setStatus(StatusCreating);
    m_activator->activate(createActivate(step));
}

void RewindSource::onActivated(CComPtr<IUnknown> object, ComException error)
{
    if (error.getErrorCode() < 0) {
        qCCritical(lcRewindSourceNode) << "RewindSource:" << error;
        setStatus(StatusError);
        return;
    }
    try {
        CComPtr<nyx::ISource> source;
        if (object)
            object->QueryInterface(nyx::IID_ISource, reinterpret_cast<void **>(&source));
        m_source = source;
        if (m_source && m_qualitySet) {
            if (auto control = rewindControl(m_source))
                control->setQuality(m_quality);
        }

        // Every build starts from no outputs: a stream that lost its video keeps no stale index.
        // The pins go straight over to the new objects (a new range of the same stream keeps its
        // format, and the decoders and views behind it stay as they are).
        dropMfNodes();
        m_videoOutput = -1;
        m_audioOutput = -1;
        CComPtr<IMFMediaSource> mediaSource;
        if (m_source)
            m_source->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void **>(&mediaSource));
        CComPtr<IMFPresentationDescriptor> descriptor = getCleanPresentationDescriptor(mediaSource);
        DWORD videoIndex = 0;
        DWORD audioIndex = 0;
        CComPtr<IMFTopologyNode> videoNode =
            createMediaSourceNode(mediaSource, descriptor, MFMediaType_Video, &videoIndex);
        CComPtr<IMFTopologyNode> audioNode =
            createMediaSourceNode(mediaSource, descriptor, MFMediaType_Audio, &audioIndex);
        int count = 0;
        if (audioNode) {
            if (FAILED(descriptor->SelectStream(audioIndex)))
                throw ComException(E_FAIL, QStringLiteral("Error"));
            m_audioOutput = 0;
            addMfNode(audioNode);
            count = 1;
        }
        if (videoNode) {
            if (FAILED(descriptor->SelectStream(videoIndex)))
                throw ComException(E_FAIL, QStringLiteral("Error"));
            m_videoOutput = count;
            addMfNode(videoNode);
            ++count;
        }
        setOutputCount(count);
        if (NodeOutput *output = getOutput(m_audioOutput))
            output->setMfNode(audioNode, 0);
        if (NodeOutput *output = getOutput(m_videoOutput))
            output->setMfNode(videoNode, 0);
        emit videoOutputChanged();
        emit audioOutputChanged();
        setStatus(StatusReady);
    } catch (const ComException &e) {
        qCCritical(lcRewindSourceNode) << "RewindSource:" << e;
        clearMfNodes();
        setStatus(StatusError);
    }
}

void RewindSource::onRangeSizeChanged()
{
    if (m_createPending)
        requestCreate();
}
