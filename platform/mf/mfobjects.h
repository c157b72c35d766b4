#pragma once
// The core Media Foundation object interfaces: attributes, media types, buffers, samples, events,
// event generators and queues, asynchronous callbacks and results, activation objects.

#include "mf/mferror.h"
#include "mf/propvariant.h"

using MFTIME = LONGLONG; // 100 ns units
using MediaEventType = DWORD;
using MFWORKITEM_KEY = UINT64;

// ---- attributes ----------------------------------------------------------------------------

enum MF_ATTRIBUTE_TYPE
{
    MF_ATTRIBUTE_UINT32 = VT_UI4,
    MF_ATTRIBUTE_UINT64 = VT_UI8,
    MF_ATTRIBUTE_DOUBLE = VT_R8,
    MF_ATTRIBUTE_GUID = VT_CLSID,
    MF_ATTRIBUTE_STRING = VT_LPWSTR,
    MF_ATTRIBUTE_BLOB = VT_VECTOR | VT_UI1,
    MF_ATTRIBUTE_IUNKNOWN = VT_UNKNOWN,
};

enum MF_ATTRIBUTES_MATCH_TYPE
{
    MF_ATTRIBUTES_MATCH_OUR_ITEMS = 0,    // every item of ours is in theirs with the same value
    MF_ATTRIBUTES_MATCH_THEIR_ITEMS = 1,  // every item of theirs is in ours with the same value
    MF_ATTRIBUTES_MATCH_ALL_ITEMS = 2,    // the same items with the same values
    MF_ATTRIBUTES_MATCH_INTERSECTION = 3, // the items both hold have the same values
    MF_ATTRIBUTES_MATCH_SMALLER = 4,      // every item of the smaller store is in the other
};

// {2CD2D921-C447-44A7-A13C-4ADABFC247E3}
constexpr IID IID_IMFAttributes = {
    0x2CD2D921, 0xC447, 0x44A7, {0xA1, 0x3C, 0x4A, 0xDA, 0xBF, 0xC2, 0x47, 0xE3}};

// A thread-safe store of GUID-keyed values. Getters give MF_E_ATTRIBUTENOTFOUND for a missing
// key and MF_E_INVALIDTYPE for a key of another kind.
struct IMFAttributes : public IUnknown
{
    // value may be null (only tests presence); else an initialised variant that receives a copy.
    virtual HRESULT GetItem(REFGUID key, PROPVARIANT *value) = 0;
    virtual HRESULT GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE *type) = 0;
    virtual HRESULT CompareItem(REFGUID key, REFPROPVARIANT value, BOOL *result) = 0;
    virtual HRESULT Compare(IMFAttributes *theirs, MF_ATTRIBUTES_MATCH_TYPE matchType, BOOL *result) = 0;
    virtual HRESULT GetUINT32(REFGUID key, UINT32 *value) = 0;
    virtual HRESULT GetUINT64(REFGUID key, UINT64 *value) = 0;
    virtual HRESULT GetDouble(REFGUID key, double *value) = 0;
    virtual HRESULT GetGUID(REFGUID key, GUID *value) = 0;
    // Length in characters, without the terminating NUL.
    virtual HRESULT GetStringLength(REFGUID key, UINT32 *length) = 0;
    // capacity counts the NUL; E_NOT_SUFFICIENT_BUFFER when too small. length may be null.
    virtual HRESULT GetString(REFGUID key, LPWSTR buffer, UINT32 capacity, UINT32 *length) = 0;
    // The string in memory from CoTaskMemAlloc (free with CoTaskMemFree).
    virtual HRESULT GetAllocatedString(REFGUID key, LPWSTR *value, UINT32 *length) = 0;
    virtual HRESULT GetBlobSize(REFGUID key, UINT32 *size) = 0;
    // E_NOT_SUFFICIENT_BUFFER when capacity is smaller than the blob. size may be null.
    virtual HRESULT GetBlob(REFGUID key, UINT8 *buffer, UINT32 capacity, UINT32 *size) = 0;
    // The bytes in memory from CoTaskMemAlloc (free with CoTaskMemFree).
    virtual HRESULT GetAllocatedBlob(REFGUID key, UINT8 **buffer, UINT32 *size) = 0;
    virtual HRESULT GetUnknown(REFGUID key, REFIID riid, LPVOID *object) = 0;
    // Only the seven attribute kinds are stored; other variant types give MF_E_INVALIDTYPE.
    virtual HRESULT SetItem(REFGUID key, REFPROPVARIANT value) = 0;
    virtual HRESULT DeleteItem(REFGUID key) = 0;
    virtual HRESULT DeleteAllItems() = 0;
    virtual HRESULT SetUINT32(REFGUID key, UINT32 value) = 0;
    virtual HRESULT SetUINT64(REFGUID key, UINT64 value) = 0;
    virtual HRESULT SetDouble(REFGUID key, double value) = 0;
    virtual HRESULT SetGUID(REFGUID key, REFGUID value) = 0;
    virtual HRESULT SetString(REFGUID key, LPCWSTR value) = 0;
    virtual HRESULT SetBlob(REFGUID key, const UINT8 *buffer, UINT32 size) = 0;
    virtual HRESULT SetUnknown(REFGUID key, IUnknown *object) = 0;
    // Blocks other threads from the store until UnlockStore (re-entrant for the locking thread).
    virtual HRESULT LockStore() = 0;
    virtual HRESULT UnlockStore() = 0;
    virtual HRESULT GetCount(UINT32 *count) = 0;
    // Items in the order they were first set. E_INVALIDARG past the end.
    virtual HRESULT GetItemByIndex(UINT32 index, GUID *key, PROPVARIANT *value) = 0;
    // Replaces every item of destination by a copy of ours.
    virtual HRESULT CopyAllItems(IMFAttributes *destination) = 0;
};
NYX_DECLARE_IID(IMFAttributes, IID_IMFAttributes)

// ---- media types ---------------------------------------------------------------------------

constexpr DWORD MF_MEDIATYPE_EQUAL_MAJOR_TYPES = 0x1;
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_TYPES = 0x2;     // same subtype
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_DATA = 0x4;      // one's items are a subset of the other's
constexpr DWORD MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA = 0x8; // same MF_MT_USER_DATA (or both none)

// {44AE0FA8-EA31-4109-8D2E-4CAE4997C555}
constexpr IID IID_IMFMediaType = {
    0x44AE0FA8, 0xEA31, 0x4109, {0x8D, 0x2E, 0x4C, 0xAE, 0x49, 0x97, 0xC5, 0x55}};

struct IMFMediaType : public IMFAttributes
{
    virtual HRESULT GetMajorType(GUID *majorType) = 0;
    virtual HRESULT IsCompressedFormat(BOOL *compressed) = 0;
    // S_OK when the types are equal, S_FALSE otherwise; flags tells what matches.
    virtual HRESULT IsEqual(IMFMediaType *other, DWORD *flags) = 0;
};
NYX_DECLARE_IID(IMFMediaType, IID_IMFMediaType)

// ---- buffers and samples -------------------------------------------------------------------

// {045FA593-8799-42B8-BC8D-8968C6453507}
constexpr IID IID_IMFMediaBuffer = {
    0x045FA593, 0x8799, 0x42B8, {0xBC, 0x8D, 0x89, 0x68, 0xC6, 0x45, 0x35, 0x07}};

struct IMFMediaBuffer : public IUnknown
{
    // Locks may nest; each Lock needs one Unlock. maxLength and currentLength may be null.
    virtual HRESULT Lock(BYTE **buffer, DWORD *maxLength, DWORD *currentLength) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetCurrentLength(DWORD *length) = 0;
    // E_INVALIDARG beyond the maximum length.
    virtual HRESULT SetCurrentLength(DWORD length) = 0;
    virtual HRESULT GetMaxLength(DWORD *length) = 0;
};
NYX_DECLARE_IID(IMFMediaBuffer, IID_IMFMediaBuffer)

// {C40A00F2-B93A-4D80-AE8C-5A1C634F58E4}
constexpr IID IID_IMFSample = {0xC40A00F2, 0xB93A, 0x4D80, {0xAE, 0x8C, 0x5A, 0x1C, 0x63, 0x4F, 0x58, 0xE4}};

struct IMFSample : public IMFAttributes
{
    virtual HRESULT GetSampleFlags(DWORD *flags) = 0;
    virtual HRESULT SetSampleFlags(DWORD flags) = 0;
    // MF_E_NO_SAMPLE_TIMESTAMP until set.
    virtual HRESULT GetSampleTime(LONGLONG *time) = 0;
    virtual HRESULT SetSampleTime(LONGLONG time) = 0;
    // MF_E_NO_SAMPLE_DURATION until set.
    virtual HRESULT GetSampleDuration(LONGLONG *duration) = 0;
    virtual HRESULT SetSampleDuration(LONGLONG duration) = 0;
    virtual HRESULT GetBufferCount(DWORD *count) = 0;
    virtual HRESULT GetBufferByIndex(DWORD index, IMFMediaBuffer **buffer) = 0;
    // One buffer: that buffer. Several: their current bytes copied into one new buffer, which then
    // replaces them in the sample. None: E_UNEXPECTED.
    virtual HRESULT ConvertToContiguousBuffer(IMFMediaBuffer **buffer) = 0;
    virtual HRESULT AddBuffer(IMFMediaBuffer *buffer) = 0;
    virtual HRESULT RemoveBufferByIndex(DWORD index) = 0;
    virtual HRESULT RemoveAllBuffers() = 0;
    // The sum of the buffers' current lengths.
    virtual HRESULT GetTotalLength(DWORD *length) = 0;
    // MF_E_BUFFERTOOSMALL when the destination's maximum length is below the total length.
    virtual HRESULT CopyToBuffer(IMFMediaBuffer *destination) = 0;
};
NYX_DECLARE_IID(IMFSample, IID_IMFSample)

// ---- asynchronous callbacks and results ------------------------------------------------------

struct IMFAsyncResult;

// {A27003CF-2354-4F2A-8D6A-AB7CFF15437E}
constexpr IID IID_IMFAsyncCallback = {
    0xA27003CF, 0x2354, 0x4F2A, {0x8D, 0x6A, 0xAB, 0x7C, 0xFF, 0x15, 0x43, 0x7E}};

struct IMFAsyncCallback : public IUnknown
{
    // The work queue the callback wants to run on (E_NOTIMPL: the standard queue).
    virtual HRESULT GetParameters(DWORD *flags, DWORD *queue) = 0;
    virtual HRESULT Invoke(IMFAsyncResult *result) = 0;
};
NYX_DECLARE_IID(IMFAsyncCallback, IID_IMFAsyncCallback)

// {AC6B7889-0740-4D51-8619-905994A55CC6}
constexpr IID IID_IMFAsyncResult = {
    0xAC6B7889, 0x0740, 0x4D51, {0x86, 0x19, 0x90, 0x59, 0x94, 0xA5, 0x5C, 0xC6}};

struct IMFAsyncResult : public IUnknown
{
    // E_POINTER when there is no state.
    virtual HRESULT GetState(IUnknown **state) = 0;
    virtual HRESULT GetStatus() = 0;
    virtual HRESULT SetStatus(HRESULT status) = 0;
    // E_POINTER when there is no object.
    virtual HRESULT GetObject(IUnknown **object) = 0;
    virtual IUnknown *GetStateNoAddRef() = 0;
};
NYX_DECLARE_IID(IMFAsyncResult, IID_IMFAsyncResult)

// ---- events --------------------------------------------------------------------------------

enum : MediaEventType
{
    MEUnknown = 0,
    MEError = 1,
    MEExtendedType = 2,
    MENonFatalError = 3,
    MESessionUnknown = 100,
    MESessionTopologySet = 101,
    MESessionTopologiesCleared = 102,
    MESessionStarted = 103,
    MESessionPaused = 104,
    MESessionStopped = 105,
    MESessionClosed = 106,
    MESessionEnded = 107,
    MESessionRateChanged = 108,
    MESessionScrubSampleComplete = 109,
    MESessionCapabilitiesChanged = 110,
    MESessionTopologyStatus = 111,
    MESessionNotifyPresentationTime = 112,
    MENewPresentation = 113,
    MESourceUnknown = 200,
    MESourceStarted = 201,
    MEStreamStarted = 202,
    MESourceSeeked = 203,
    MEStreamSeeked = 204,
    MENewStream = 205,
    MEUpdatedStream = 206,
    MESourceStopped = 207,
    MEStreamStopped = 208,
    MESourcePaused = 209,
    MEStreamPaused = 210,
    MEEndOfPresentation = 211,
    MEEndOfStream = 212,
    MEMediaSample = 213,
    MEStreamTick = 214,
    MEStreamThinMode = 215,
    MEStreamFormatChanged = 216,
    MESourceRateChanged = 217,
    MEEndOfPresentationSegment = 218,
    MESourceCharacteristicsChanged = 219,
    MESourceRateChangeRequested = 220,
    MESinkUnknown = 300,
    MEStreamSinkStarted = 301,
    MEStreamSinkStopped = 302,
    MEStreamSinkPaused = 303,
    MEStreamSinkRateChanged = 304,
    MEStreamSinkRequestSample = 305,
    MEStreamSinkMarker = 306,
    MEStreamSinkPrerolled = 307,
    MEStreamSinkScrubSampleComplete = 308,
    MEStreamSinkFormatChanged = 309,
    MEStreamSinkDeviceChanged = 310,
    MEQualityNotify = 311,
    MESinkInvalidated = 312,
};

// {DF598932-F10C-4E39-BBA2-C308F101DAA3}
constexpr IID IID_IMFMediaEvent = {
    0xDF598932, 0xF10C, 0x4E39, {0xBB, 0xA2, 0xC3, 0x08, 0xF1, 0x01, 0xDA, 0xA3}};

struct IMFMediaEvent : public IMFAttributes
{
    virtual HRESULT GetType(MediaEventType *type) = 0;
    virtual HRESULT GetExtendedType(GUID *extendedType) = 0;
    virtual HRESULT GetStatus(HRESULT *status) = 0;
    // A copy of the event's value (VT_EMPTY when it has none) into an initialised variant.
    virtual HRESULT GetValue(PROPVARIANT *value) = 0;
};
NYX_DECLARE_IID(IMFMediaEvent, IID_IMFMediaEvent)

// GetEvent flag: give MF_E_NO_EVENTS_AVAILABLE instead of waiting.
constexpr DWORD MF_EVENT_FLAG_NO_WAIT = 0x00000001;

// {2CD0BD52-BCD5-4B89-B62C-EADC0C031E7D}
constexpr IID IID_IMFMediaEventGenerator = {
    0x2CD0BD52, 0xBCD5, 0x4B89, {0xB6, 0x2C, 0xEA, 0xDC, 0x0C, 0x03, 0x1E, 0x7D}};

struct IMFMediaEventGenerator : public IUnknown
{
    virtual HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) = 0;
    virtual HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) = 0;
    virtual HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) = 0;
    virtual HRESULT QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                               const PROPVARIANT *value) = 0;
};
NYX_DECLARE_IID(IMFMediaEventGenerator, IID_IMFMediaEventGenerator)

// {36F846FC-2256-48B6-B58E-E2B638316581}
constexpr IID IID_IMFMediaEventQueue = {
    0x36F846FC, 0x2256, 0x48B6, {0xB5, 0x8E, 0xE2, 0xB6, 0x38, 0x31, 0x65, 0x81}};

// The queue behind an event generator. Events are delivered in the order they were queued.
// One reader at a time: a second BeginGetEvent while one is outstanding gives MF_E_MULTIPLE_BEGIN,
// a GetEvent while one is outstanding MF_E_MULTIPLE_SUBSCRIBERS. The BeginGetEvent callback runs
// on the work queue its GetParameters names (the standard queue by default), never in the caller.
// After Shutdown every call gives MF_E_SHUTDOWN; a waiting GetEvent returns MF_E_SHUTDOWN and an
// outstanding BeginGetEvent callback is invoked once with status MF_E_SHUTDOWN.
struct IMFMediaEventQueue : public IUnknown
{
    virtual HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) = 0;
    virtual HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) = 0;
    virtual HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) = 0;
    virtual HRESULT QueueEvent(IMFMediaEvent *event) = 0;
    virtual HRESULT QueueEventParamVar(MediaEventType type, REFGUID extendedType, HRESULT status,
                                       const PROPVARIANT *value) = 0;
    virtual HRESULT QueueEventParamUnk(MediaEventType type, REFGUID extendedType, HRESULT status,
                                       IUnknown *object) = 0;
    virtual HRESULT Shutdown() = 0;
};
NYX_DECLARE_IID(IMFMediaEventQueue, IID_IMFMediaEventQueue)

// ---- activation ----------------------------------------------------------------------------

// {7FEE9E9A-4A89-47A6-899C-B6A53A70FB67}
constexpr IID IID_IMFActivate = {
    0x7FEE9E9A, 0x4A89, 0x47A6, {0x89, 0x9C, 0xB6, 0xA5, 0x3A, 0x70, 0xFB, 0x67}};

// Creates its object on the first ActivateObject and gives the same object afterwards.
struct IMFActivate : public IMFAttributes
{
    virtual HRESULT ActivateObject(REFIID riid, void **object) = 0;
    // Shuts the object down (media source or sink) and forgets it.
    virtual HRESULT ShutdownObject() = 0;
    // Forgets the object without shutting it down.
    virtual HRESULT DetachObject() = 0;
};
NYX_DECLARE_IID(IMFActivate, IID_IMFActivate)
