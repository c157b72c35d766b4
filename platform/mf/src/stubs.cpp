// Not yet implemented parts of the library.
#include "mf/mfapi.h"

HRESULT MFStartup(ULONG, DWORD)
{
    return S_OK;
}
HRESULT MFShutdown()
{
    return S_OK;
}
MFTIME MFGetSystemTime()
{
    return 0;
}
HRESULT MFCreateAttributes(IMFAttributes **, UINT32)
{
    return E_NOTIMPL;
}
HRESULT MFCreateMediaType(IMFMediaType **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateSample(IMFSample **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateMemoryBuffer(DWORD, IMFMediaBuffer **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateAlignedMemoryBuffer(DWORD, DWORD, IMFMediaBuffer **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateMediaEvent(MediaEventType, REFGUID, HRESULT, const PROPVARIANT *, IMFMediaEvent **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateEventQueue(IMFMediaEventQueue **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateTopologyNode(MF_TOPOLOGY_TYPE, IMFTopologyNode **)
{
    return E_NOTIMPL;
}
HRESULT MFCreatePresentationClock(IMFPresentationClock **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateSystemTimeSource(IMFPresentationTimeSource **)
{
    return E_NOTIMPL;
}
HRESULT MFCreatePresentationDescriptor(DWORD, IMFStreamDescriptor **, IMFPresentationDescriptor **)
{
    return E_NOTIMPL;
}
HRESULT MFCreateStreamDescriptor(DWORD, DWORD, IMFMediaType **, IMFStreamDescriptor **)
{
    return E_NOTIMPL;
}
HRESULT MFGetService(IUnknown *, REFGUID, REFIID, LPVOID *)
{
    return E_NOTIMPL;
}
HRESULT MFGetAttributesAsBlobSize(IMFAttributes *, UINT32 *)
{
    return E_NOTIMPL;
}
HRESULT MFGetAttributesAsBlob(IMFAttributes *, UINT8 *, UINT)
{
    return E_NOTIMPL;
}
HRESULT MFInitAttributesFromBlob(IMFAttributes *, const UINT8 *, UINT)
{
    return E_NOTIMPL;
}
HRESULT MFCreateAsyncResult(IUnknown *, IMFAsyncCallback *, IUnknown *, IMFAsyncResult **)
{
    return E_NOTIMPL;
}
HRESULT MFInvokeCallback(IMFAsyncResult *)
{
    return E_NOTIMPL;
}
HRESULT MFAllocateWorkQueue(DWORD *)
{
    return E_NOTIMPL;
}
HRESULT MFLockWorkQueue(DWORD)
{
    return E_NOTIMPL;
}
HRESULT MFUnlockWorkQueue(DWORD)
{
    return E_NOTIMPL;
}
HRESULT MFPutWorkItem(DWORD, IMFAsyncCallback *, IUnknown *)
{
    return E_NOTIMPL;
}
HRESULT MFPutWorkItemEx(DWORD, IMFAsyncResult *)
{
    return E_NOTIMPL;
}
HRESULT MFScheduleWorkItem(IMFAsyncCallback *, IUnknown *, INT64, MFWORKITEM_KEY *)
{
    return E_NOTIMPL;
}
HRESULT MFScheduleWorkItemEx(IMFAsyncResult *, INT64, MFWORKITEM_KEY *)
{
    return E_NOTIMPL;
}
HRESULT MFCancelWorkItem(MFWORKITEM_KEY)
{
    return E_NOTIMPL;
}
HRESULT MFSetAttributeSize(IMFAttributes *, REFGUID, UINT32, UINT32)
{
    return E_NOTIMPL;
}
HRESULT MFGetAttributeSize(IMFAttributes *, REFGUID, UINT32 *, UINT32 *)
{
    return E_NOTIMPL;
}
HRESULT MFSetAttributeRatio(IMFAttributes *, REFGUID, UINT32, UINT32)
{
    return E_NOTIMPL;
}
HRESULT MFGetAttributeRatio(IMFAttributes *, REFGUID, UINT32 *, UINT32 *)
{
    return E_NOTIMPL;
}
namespace nyx::mf {
HRESULT createMediaTypeHandler(DWORD, IMFMediaType **, IMFMediaTypeHandler **)
{
    return E_NOTIMPL;
}
HRESULT createFunctionActivate(std::function<HRESULT(IUnknown **)>, IMFActivate **)
{
    return E_NOTIMPL;
}
} // namespace nyx::mf
