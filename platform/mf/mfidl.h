#pragma once
// The pipeline interfaces: clocks, media sinks and stream sinks, media sources and streams,
// descriptors and media type handlers, topology nodes, rate control and services.

#include "mf/mfobjects.h"

struct IMFMediaSink;
struct IMFPresentationDescriptor;

// ---- clocks --------------------------------------------------------------------------------

constexpr LONGLONG PRESENTATION_CURRENT_POSITION = 0x7FFFFFFFFFFFFFFFLL;

enum MFCLOCK_STATE
{
    MFCLOCK_STATE_INVALID = 0,
    MFCLOCK_STATE_RUNNING = 1,
    MFCLOCK_STATE_STOPPED = 2,
    MFCLOCK_STATE_PAUSED = 3,
};

constexpr DWORD MFCLOCK_CHARACTERISTICS_FLAG_FREQUENCY_10MHZ = 0x2;
constexpr DWORD MFCLOCK_CHARACTERISTICS_FLAG_ALWAYS_RUNNING = 0x4;
constexpr DWORD MFCLOCK_CHARACTERISTICS_FLAG_IS_SYSTEM_CLOCK = 0x8;

// {2EB1E945-18B8-4139-9B1A-D5D584818530}
constexpr IID IID_IMFClock = {0x2EB1E945, 0x18B8, 0x4139, {0x9B, 0x1A, 0xD5, 0xD5, 0x84, 0x81, 0x85, 0x30}};

struct IMFClock : public IUnknown
{
    virtual HRESULT GetClockCharacteristics(DWORD *characteristics) = 0;
    // The clock's time and the system time (MFGetSystemTime) read together.
    virtual HRESULT GetCorrelatedTime(DWORD reserved, LONGLONG *clockTime, MFTIME *systemTime) = 0;
    virtual HRESULT GetContinuityKey(DWORD *key) = 0;
    virtual HRESULT GetState(DWORD reserved, MFCLOCK_STATE *state) = 0;
};
NYX_DECLARE_IID(IMFClock, IID_IMFClock)

// {7FF12CCE-F76F-41C2-863B-1666C8E5E139}
constexpr IID IID_IMFPresentationTimeSource = {
    0x7FF12CCE, 0xF76F, 0x41C2, {0x86, 0x3B, 0x16, 0x66, 0xC8, 0xE5, 0xE1, 0x39}};

// The time base of a presentation clock: its GetCorrelatedTime system time is the clock's
// notion of "now" (tests substitute one they can move by hand).
struct IMFPresentationTimeSource : public IMFClock
{
    virtual HRESULT GetUnderlyingClock(IMFClock **clock) = 0;
};
NYX_DECLARE_IID(IMFPresentationTimeSource, IID_IMFPresentationTimeSource)

// {F6696E82-74F7-4F3D-A178-8A5E09C3659F}
constexpr IID IID_IMFClockStateSink = {
    0xF6696E82, 0x74F7, 0x4F3D, {0xA1, 0x78, 0x8A, 0x5E, 0x09, 0xC3, 0x65, 0x9F}};

struct IMFClockStateSink : public IUnknown
{
    virtual HRESULT OnClockStart(MFTIME systemTime, LONGLONG clockStartOffset) = 0;
    virtual HRESULT OnClockStop(MFTIME systemTime) = 0;
    virtual HRESULT OnClockPause(MFTIME systemTime) = 0;
    virtual HRESULT OnClockRestart(MFTIME systemTime) = 0;
    virtual HRESULT OnClockSetRate(MFTIME systemTime, float rate) = 0;
};
NYX_DECLARE_IID(IMFClockStateSink, IID_IMFClockStateSink)

// {868CE85C-8EA9-4F55-AB82-B009A910A805}
constexpr IID IID_IMFPresentationClock = {
    0x868CE85C, 0x8EA9, 0x4F55, {0xAB, 0x82, 0xB0, 0x09, 0xA9, 0x10, 0xA8, 0x05}};

// The presentation clock. Its time is 0 while stopped, frozen while paused, and while running
// advances from the start offset at the clock's rate (IMFRateControl on the clock). Clock state
// sinks are called synchronously, in the thread that changes the state, after the change.
// Start(PRESENTATION_CURRENT_POSITION) while paused resumes (OnClockRestart); otherwise sinks get
// OnClockStart with the offset as given (PRESENTATION_CURRENT_POSITION: the time goes on from
// where it is). Stop while stopped and Pause while paused give MF_E_CLOCK_STATE_ALREADY_SET;
// Pause while stopped MF_E_INVALIDREQUEST. Without a time source: MF_E_CLOCK_NO_TIME_SOURCE.
struct IMFPresentationClock : public IMFClock
{
    virtual HRESULT SetTimeSource(IMFPresentationTimeSource *timeSource) = 0;
    virtual HRESULT GetTimeSource(IMFPresentationTimeSource **timeSource) = 0;
    virtual HRESULT GetTime(MFTIME *clockTime) = 0;
    virtual HRESULT AddClockStateSink(IMFClockStateSink *sink) = 0;
    virtual HRESULT RemoveClockStateSink(IMFClockStateSink *sink) = 0;
    virtual HRESULT Start(LONGLONG clockStartOffset) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
};
NYX_DECLARE_IID(IMFPresentationClock, IID_IMFPresentationClock)

// ---- media type handlers, descriptors ------------------------------------------------------

// {E93DCF6C-4B07-4E1E-8123-AA16ED6EADF5}
constexpr IID IID_IMFMediaTypeHandler = {
    0xE93DCF6C, 0x4B07, 0x4E1E, {0x81, 0x23, 0xAA, 0x16, 0xED, 0x6E, 0xAD, 0xF5}};

struct IMFMediaTypeHandler : public IUnknown
{
    // closest may be null; when given it is set to null or a supported type close to the one asked.
    virtual HRESULT IsMediaTypeSupported(IMFMediaType *mediaType, IMFMediaType **closest) = 0;
    virtual HRESULT GetMediaTypeCount(DWORD *count) = 0;
    // MF_E_NO_MORE_TYPES past the end.
    virtual HRESULT GetMediaTypeByIndex(DWORD index, IMFMediaType **mediaType) = 0;
    virtual HRESULT SetCurrentMediaType(IMFMediaType *mediaType) = 0;
    // MF_E_NOT_INITIALIZED before a type is set.
    virtual HRESULT GetCurrentMediaType(IMFMediaType **mediaType) = 0;
    virtual HRESULT GetMajorType(GUID *majorType) = 0;
};
NYX_DECLARE_IID(IMFMediaTypeHandler, IID_IMFMediaTypeHandler)

// {56C03D9C-9DBB-45F5-AB4B-D80F47C05938}
constexpr IID IID_IMFStreamDescriptor = {
    0x56C03D9C, 0x9DBB, 0x45F5, {0xAB, 0x4B, 0xD8, 0x0F, 0x47, 0xC0, 0x59, 0x38}};

struct IMFStreamDescriptor : public IMFAttributes
{
    virtual HRESULT GetStreamIdentifier(DWORD *identifier) = 0;
    virtual HRESULT GetMediaTypeHandler(IMFMediaTypeHandler **handler) = 0;
};
NYX_DECLARE_IID(IMFStreamDescriptor, IID_IMFStreamDescriptor)

// {03CB2711-24D7-4DB6-A17F-F3A7A479A536}
constexpr IID IID_IMFPresentationDescriptor = {
    0x03CB2711, 0x24D7, 0x4DB6, {0xA1, 0x7F, 0xF3, 0xA7, 0xA4, 0x79, 0xA5, 0x36}};

struct IMFPresentationDescriptor : public IMFAttributes
{
    virtual HRESULT GetStreamDescriptorCount(DWORD *count) = 0;
    virtual HRESULT GetStreamDescriptorByIndex(DWORD index, BOOL *selected,
                                               IMFStreamDescriptor **descriptor) = 0;
    virtual HRESULT SelectStream(DWORD index) = 0;
    virtual HRESULT DeselectStream(DWORD index) = 0;
    // A new descriptor with a copy of the attributes and selection, sharing the stream descriptors.
    virtual HRESULT Clone(IMFPresentationDescriptor **descriptor) = 0;
};
NYX_DECLARE_IID(IMFPresentationDescriptor, IID_IMFPresentationDescriptor)

// ---- media sources -------------------------------------------------------------------------

constexpr DWORD MFMEDIASOURCE_IS_LIVE = 0x1;
constexpr DWORD MFMEDIASOURCE_CAN_SEEK = 0x2;
constexpr DWORD MFMEDIASOURCE_CAN_PAUSE = 0x4;
constexpr DWORD MFMEDIASOURCE_HAS_SLOW_SEEK = 0x8;

// {279A808D-AEC7-40C8-9C6B-A6B492C78A66}
constexpr IID IID_IMFMediaSource = {
    0x279A808D, 0xAEC7, 0x40C8, {0x9C, 0x6B, 0xA6, 0xB4, 0x92, 0xC7, 0x8A, 0x66}};

struct IMFMediaSource : public IMFMediaEventGenerator
{
    virtual HRESULT GetCharacteristics(DWORD *characteristics) = 0;
    virtual HRESULT CreatePresentationDescriptor(IMFPresentationDescriptor **descriptor) = 0;
    // timeFormat null or GUID_NULL: 100 ns. start: VT_I8 position, or VT_EMPTY for the current one.
    virtual HRESULT Start(IMFPresentationDescriptor *descriptor, const GUID *timeFormat,
                          const PROPVARIANT *start) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Shutdown() = 0;
};
NYX_DECLARE_IID(IMFMediaSource, IID_IMFMediaSource)

// {3C9B2EB9-86D5-4514-A394-F56664F9F0D8}
constexpr IID IID_IMFMediaSourceEx = {
    0x3C9B2EB9, 0x86D5, 0x4514, {0xA3, 0x94, 0xF5, 0x66, 0x64, 0xF9, 0xF0, 0xD8}};

struct IMFMediaSourceEx : public IMFMediaSource
{
    virtual HRESULT GetSourceAttributes(IMFAttributes **attributes) = 0;
    virtual HRESULT GetStreamAttributes(DWORD streamIdentifier, IMFAttributes **attributes) = 0;
    virtual HRESULT SetD3DManager(IUnknown *manager) = 0;
};
NYX_DECLARE_IID(IMFMediaSourceEx, IID_IMFMediaSourceEx)

// {D182108F-4EC6-443F-AA42-A71106EC825F}
constexpr IID IID_IMFMediaStream = {
    0xD182108F, 0x4EC6, 0x443F, {0xAA, 0x42, 0xA7, 0x11, 0x06, 0xEC, 0x82, 0x5F}};

// A source stream; each RequestSample is answered by one MEMediaSample event (value: the sample
// as VT_UNKNOWN), or by MEEndOfStream at the end.
struct IMFMediaStream : public IMFMediaEventGenerator
{
    virtual HRESULT GetMediaSource(IMFMediaSource **source) = 0;
    virtual HRESULT GetStreamDescriptor(IMFStreamDescriptor **descriptor) = 0;
    virtual HRESULT RequestSample(IUnknown *token) = 0;
};
NYX_DECLARE_IID(IMFMediaStream, IID_IMFMediaStream)

// ---- media sinks ---------------------------------------------------------------------------

constexpr DWORD MEDIASINK_FIXED_STREAMS = 0x1;
constexpr DWORD MEDIASINK_CANNOT_MATCH_CLOCK = 0x2;
constexpr DWORD MEDIASINK_RATELESS = 0x4;
constexpr DWORD MEDIASINK_CLOCK_REQUIRED = 0x8;
constexpr DWORD MEDIASINK_CAN_PREROLL = 0x10;
constexpr DWORD MEDIASINK_REQUIRE_REFERENCE_MEDIATYPE = 0x20;

enum MFSTREAMSINK_MARKER_TYPE
{
    MFSTREAMSINK_MARKER_DEFAULT = 0,
    MFSTREAMSINK_MARKER_ENDOFSEGMENT = 1,
    MFSTREAMSINK_MARKER_TICK = 2,
    MFSTREAMSINK_MARKER_EVENT = 3,
};

// {0A97B3CF-8E7C-4A3D-8F8C-0C843DC247FB}
constexpr IID IID_IMFStreamSink = {
    0x0A97B3CF, 0x8E7C, 0x4A3D, {0x8F, 0x8C, 0x0C, 0x84, 0x3D, 0xC2, 0x47, 0xFB}};

struct IMFStreamSink : public IMFMediaEventGenerator
{
    virtual HRESULT GetMediaSink(IMFMediaSink **mediaSink) = 0;
    virtual HRESULT GetIdentifier(DWORD *identifier) = 0;
    virtual HRESULT GetMediaTypeHandler(IMFMediaTypeHandler **handler) = 0;
    virtual HRESULT ProcessSample(IMFSample *sample) = 0;
    // value and context may be null.
    virtual HRESULT PlaceMarker(MFSTREAMSINK_MARKER_TYPE markerType, const PROPVARIANT *markerValue,
                                const PROPVARIANT *contextValue) = 0;
    virtual HRESULT Flush() = 0;
};
NYX_DECLARE_IID(IMFStreamSink, IID_IMFStreamSink)

// {6EF2A660-47C0-4666-B13D-CBB717F2FA2C}
constexpr IID IID_IMFMediaSink = {
    0x6EF2A660, 0x47C0, 0x4666, {0xB1, 0x3D, 0xCB, 0xB7, 0x17, 0xF2, 0xFA, 0x2C}};

struct IMFMediaSink : public IUnknown
{
    virtual HRESULT GetCharacteristics(DWORD *characteristics) = 0;
    virtual HRESULT AddStreamSink(DWORD streamSinkIdentifier, IMFMediaType *mediaType,
                                  IMFStreamSink **streamSink) = 0;
    virtual HRESULT RemoveStreamSink(DWORD streamSinkIdentifier) = 0;
    virtual HRESULT GetStreamSinkCount(DWORD *count) = 0;
    virtual HRESULT GetStreamSinkByIndex(DWORD index, IMFStreamSink **streamSink) = 0;
    virtual HRESULT GetStreamSinkById(DWORD streamSinkIdentifier, IMFStreamSink **streamSink) = 0;
    virtual HRESULT SetPresentationClock(IMFPresentationClock *clock) = 0;
    virtual HRESULT GetPresentationClock(IMFPresentationClock **clock) = 0;
    virtual HRESULT Shutdown() = 0;
};
NYX_DECLARE_IID(IMFMediaSink, IID_IMFMediaSink)

// {5DFD4B2A-7674-4110-A4E6-8A68FD5F3688}
constexpr IID IID_IMFMediaSinkPreroll = {
    0x5DFD4B2A, 0x7674, 0x4110, {0xA4, 0xE6, 0x8A, 0x68, 0xFD, 0x5F, 0x36, 0x88}};

// A media sink that can get ready before its clock runs: after NotifyPreroll, each of its stream
// sinks raises MEStreamSinkPrerolled once it holds what it shows first at upcomingStartTime.
struct IMFMediaSinkPreroll : public IUnknown
{
    virtual HRESULT NotifyPreroll(MFTIME upcomingStartTime) = 0;
};
NYX_DECLARE_IID(IMFMediaSinkPreroll, IID_IMFMediaSinkPreroll)

// ---- topology nodes ------------------------------------------------------------------------

using TOPOID = UINT64;

enum MF_TOPOLOGY_TYPE
{
    MF_TOPOLOGY_OUTPUT_NODE = 0,
    MF_TOPOLOGY_SOURCESTREAM_NODE = 1,
    MF_TOPOLOGY_TRANSFORM_NODE = 2,
    MF_TOPOLOGY_TEE_NODE = 3,
};

// {83CF873A-F6DA-4BC8-823F-BACFD55DC430}
constexpr IID IID_IMFTopologyNode = {
    0x83CF873A, 0xF6DA, 0x4BC8, {0x82, 0x3F, 0xBA, 0xCF, 0xD5, 0x5D, 0xC4, 0x30}};

// A node of the media graph: its type, an object (the stream sink of an output node) and
// attributes (MF_TOPONODE_SOURCE and the descriptors of a source stream node).
struct IMFTopologyNode : public IMFAttributes
{
    virtual HRESULT SetObject(IUnknown *object) = 0;
    // E_FAIL when no object is set.
    virtual HRESULT GetObject(IUnknown **object) = 0;
    virtual HRESULT GetNodeType(MF_TOPOLOGY_TYPE *type) = 0;
    // Unique within the process, given at creation.
    virtual HRESULT GetTopoNodeID(TOPOID *id) = 0;
    virtual HRESULT SetTopoNodeID(TOPOID id) = 0;
};
NYX_DECLARE_IID(IMFTopologyNode, IID_IMFTopologyNode)

// ---- rate and services ---------------------------------------------------------------------

enum MFRATE_DIRECTION
{
    MFRATE_FORWARD = 0,
    MFRATE_REVERSE = 1,
};

// {0A9CCDBC-D797-4563-9667-94EC5D79292D}
constexpr IID IID_IMFRateSupport = {
    0x0A9CCDBC, 0xD797, 0x4563, {0x96, 0x67, 0x94, 0xEC, 0x5D, 0x79, 0x29, 0x2D}};

struct IMFRateSupport : public IUnknown
{
    virtual HRESULT GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float *rate) = 0;
    virtual HRESULT GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float *rate) = 0;
    // nearest may be null; MF_E_UNSUPPORTED_RATE when the rate is out of range.
    virtual HRESULT IsRateSupported(BOOL thin, float rate, float *nearest) = 0;
};
NYX_DECLARE_IID(IMFRateSupport, IID_IMFRateSupport)

// {88DDCD21-03C3-4275-91ED-55EE3929328F}
constexpr IID IID_IMFRateControl = {
    0x88DDCD21, 0x03C3, 0x4275, {0x91, 0xED, 0x55, 0xEE, 0x39, 0x29, 0x32, 0x8F}};

struct IMFRateControl : public IUnknown
{
    virtual HRESULT SetRate(BOOL thin, float rate) = 0;
    // thin may be null.
    virtual HRESULT GetRate(BOOL *thin, float *rate) = 0;
};
NYX_DECLARE_IID(IMFRateControl, IID_IMFRateControl)

// {FA993888-4383-415A-A930-DD472A8CF6F7}
constexpr IID IID_IMFGetService = {
    0xFA993888, 0x4383, 0x415A, {0xA9, 0x30, 0xDD, 0x47, 0x2A, 0x8C, 0xF6, 0xF7}};

struct IMFGetService : public IUnknown
{
    // MF_E_UNSUPPORTED_SERVICE for a service the object does not offer.
    virtual HRESULT GetService(REFGUID service, REFIID riid, LPVOID *object) = 0;
};
NYX_DECLARE_IID(IMFGetService, IID_IMFGetService)
