#pragma once
// The Media Foundation functions: object creation, the attribute blob, work queues and
// asynchronous calls, clocks, and the attribute helpers.

#include "mf/mferror.h"
#include "mf/mfguids.h"
#include "mf/mfidl.h"
#include "mf/mfobjects.h"

#include <functional>

// ---- start-up (no-ops: the library needs no set-up) ----
constexpr ULONG MF_SDK_VERSION = 0x0002;
constexpr ULONG MF_API_VERSION = 0x0070;
constexpr ULONG MF_VERSION = (MF_SDK_VERSION << 16) | MF_API_VERSION;
constexpr DWORD MFSTARTUP_NOSOCKET = 0x1;
constexpr DWORD MFSTARTUP_LITE = MFSTARTUP_NOSOCKET;
constexpr DWORD MFSTARTUP_FULL = 0;

HRESULT MFStartup(ULONG version, DWORD flags = MFSTARTUP_FULL);
HRESULT MFShutdown();

// The system time in 100 ns units, from a steady clock (never jumps with the wall clock).
MFTIME MFGetSystemTime();

// ---- objects ----
HRESULT MFCreateAttributes(IMFAttributes **attributes, UINT32 initialSize);
HRESULT MFCreateMediaType(IMFMediaType **mediaType);
HRESULT MFCreateSample(IMFSample **sample);
HRESULT MFCreateMemoryBuffer(DWORD maxLength, IMFMediaBuffer **buffer);

// Alignment flags: the alignment in bytes minus one.
constexpr DWORD MF_1_BYTE_ALIGNMENT = 0x00000000;
constexpr DWORD MF_2_BYTE_ALIGNMENT = 0x00000001;
constexpr DWORD MF_4_BYTE_ALIGNMENT = 0x00000003;
constexpr DWORD MF_8_BYTE_ALIGNMENT = 0x00000007;
constexpr DWORD MF_16_BYTE_ALIGNMENT = 0x0000000F;
constexpr DWORD MF_32_BYTE_ALIGNMENT = 0x0000001F;
constexpr DWORD MF_64_BYTE_ALIGNMENT = 0x0000003F;
constexpr DWORD MF_128_BYTE_ALIGNMENT = 0x0000007F;
constexpr DWORD MF_256_BYTE_ALIGNMENT = 0x000000FF;
constexpr DWORD MF_512_BYTE_ALIGNMENT = 0x000001FF;
// E_INVALIDARG unless alignment + 1 is a power of two.
HRESULT MFCreateAlignedMemoryBuffer(DWORD maxLength, DWORD alignment, IMFMediaBuffer **buffer);

HRESULT MFCreateMediaEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                           const PROPVARIANT *value, IMFMediaEvent **event);
HRESULT MFCreateEventQueue(IMFMediaEventQueue **queue);
HRESULT MFCreateTopologyNode(MF_TOPOLOGY_TYPE type, IMFTopologyNode **node);
HRESULT MFCreatePresentationClock(IMFPresentationClock **clock);
// A time source on MFGetSystemTime.
HRESULT MFCreateSystemTimeSource(IMFPresentationTimeSource **timeSource);
HRESULT MFCreatePresentationDescriptor(DWORD count, IMFStreamDescriptor **streamDescriptors,
                                       IMFPresentationDescriptor **descriptor);
// The stream descriptor's media type handler offers the given types; its current type is unset.
HRESULT MFCreateStreamDescriptor(DWORD identifier, DWORD count, IMFMediaType **mediaTypes,
                                 IMFStreamDescriptor **descriptor);

// Queries the object for IMFGetService and asks it; MF_E_UNSUPPORTED_SERVICE without one.
HRESULT MFGetService(IUnknown *object, REFGUID service, REFIID riid, LPVOID *result);

// ---- the attribute blob (our own stored format, see README.md) ----
// IUnknown items are left out of the blob.
HRESULT MFGetAttributesAsBlobSize(IMFAttributes *attributes, UINT32 *size);
// MF_E_BUFFERTOOSMALL when size is smaller than the blob.
HRESULT MFGetAttributesAsBlob(IMFAttributes *attributes, UINT8 *buffer, UINT size);
// Sets every item of the blob on the attributes (items not in the blob stay). A blob that does
// not parse gives MF_E_INVALID_FORMAT (E_INVALIDARG for a null buffer) and changes nothing.
HRESULT MFInitAttributesFromBlob(IMFAttributes *attributes, const UINT8 *buffer, UINT size);

// ---- asynchronous calls and work queues ----
constexpr DWORD MFASYNC_CALLBACK_QUEUE_UNDEFINED = 0x00000000;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_STANDARD = 0x00000001;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_RT = 0x00000002;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_IO = 0x00000003;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_TIMER = 0x00000004;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_MULTITHREADED = 0x00000005;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION = 0x00000007;

constexpr DWORD MFASYNC_FAST_IO_PROCESSING_CALLBACK = 0x00000001;
constexpr DWORD MFASYNC_SIGNAL_CALLBACK = 0x00000002;
constexpr DWORD MFASYNC_BLOCKING_CALLBACK = 0x00000004;
constexpr DWORD MFASYNC_REPLY_CALLBACK = 0x00000008;

// A result for callback with the object and state (each may be null).
HRESULT MFCreateAsyncResult(IUnknown *object, IMFAsyncCallback *callback, IUnknown *state,
                            IMFAsyncResult **result);
// Runs the result's callback on the queue its GetParameters names (standard by default).
HRESULT MFInvokeCallback(IMFAsyncResult *result);

// A new serial work queue with its own thread; its lock count is 1. Items run one at a time, in
// the order they were put.
HRESULT MFAllocateWorkQueue(DWORD *queue);
HRESULT MFLockWorkQueue(DWORD queue);
// At a count of 0 the queue takes no more items, runs those it holds and ends its thread.
HRESULT MFUnlockWorkQueue(DWORD queue);
// The queues with a standard number (MFASYNC_CALLBACK_QUEUE_*) share one pool of threads: their
// items may run at the same time. An unknown or ended queue gives MF_E_INVALID_WORKQUEUE.
HRESULT MFPutWorkItem(DWORD queue, IMFAsyncCallback *callback, IUnknown *state);
// result must come from MFCreateAsyncResult (else E_INVALIDARG).
HRESULT MFPutWorkItemEx(DWORD queue, IMFAsyncResult *result);
// Runs the callback on the standard queue after -timeout milliseconds (timeout is negative, as
// on Windows; a positive value counts the same). key may be null.
HRESULT MFScheduleWorkItem(IMFAsyncCallback *callback, IUnknown *state, INT64 timeout, MFWORKITEM_KEY *key);
HRESULT MFScheduleWorkItemEx(IMFAsyncResult *result, INT64 timeout, MFWORKITEM_KEY *key);
// S_OK when the item had not run yet (it never will), MF_E_NOT_FOUND otherwise.
HRESULT MFCancelWorkItem(MFWORKITEM_KEY key);

// ---- attribute helpers ----
// Two UINT32 packed in one UINT64: the first in the high half.
HRESULT MFSetAttributeSize(IMFAttributes *attributes, REFGUID key, UINT32 width, UINT32 height);
HRESULT MFGetAttributeSize(IMFAttributes *attributes, REFGUID key, UINT32 *width, UINT32 *height);
HRESULT MFSetAttributeRatio(IMFAttributes *attributes, REFGUID key, UINT32 numerator, UINT32 denominator);
HRESULT MFGetAttributeRatio(IMFAttributes *attributes, REFGUID key, UINT32 *numerator, UINT32 *denominator);

inline UINT32 MFGetAttributeUINT32(IMFAttributes *attributes, REFGUID key, UINT32 fallback)
{
    UINT32 value = fallback;
    if (!attributes || FAILED(attributes->GetUINT32(key, &value)))
        value = fallback;
    return value;
}
inline UINT64 MFGetAttributeUINT64(IMFAttributes *attributes, REFGUID key, UINT64 fallback)
{
    UINT64 value = fallback;
    if (!attributes || FAILED(attributes->GetUINT64(key, &value)))
        value = fallback;
    return value;
}
inline double MFGetAttributeDouble(IMFAttributes *attributes, REFGUID key, double fallback)
{
    double value = fallback;
    if (!attributes || FAILED(attributes->GetDouble(key, &value)))
        value = fallback;
    return value;
}

namespace nyx::mf {
// A generic media type handler over a list of types (all supported unless the list is empty,
// which supports any type) with a current type, as stream descriptors have.
HRESULT createMediaTypeHandler(DWORD count, IMFMediaType **mediaTypes, IMFMediaTypeHandler **handler);

// An activation object over attributes: the first ActivateObject calls create for the object
// and keeps it; ShutdownObject calls Shutdown on it when it is a media source or sink.
HRESULT createFunctionActivate(std::function<HRESULT(IUnknown **object)> create, IMFActivate **activate);
} // namespace nyx::mf
