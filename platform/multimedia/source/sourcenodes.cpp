#include "multimedia/source/sourcenodes.h"

#include "mf/mfapi.h"

CComPtr<IMFPresentationDescriptor> getCleanPresentationDescriptor(IUnknown *source)
{
    CComPtr<IMFMediaSource> mediaSource;
    if (!source ||
        FAILED(source->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void **>(&mediaSource))))
        return nullptr;
    CComPtr<IMFPresentationDescriptor> descriptor;
    if (FAILED(mediaSource->CreatePresentationDescriptor(&descriptor)))
        return nullptr;
    DWORD count = 0;
    if (FAILED(descriptor->GetStreamDescriptorCount(&count)))
        return nullptr;
    for (DWORD i = 0; i < count; ++i)
        if (FAILED(descriptor->DeselectStream(i)))
            return nullptr;
    return descriptor;
}

CComPtr<IMFTopologyNode> createMediaSourceNode(IUnknown *source, IMFPresentationDescriptor *descriptor,
                                               const GUID &majorType, DWORD *streamIndex)
{
    CComPtr<IMFMediaSource> mediaSource;
    if (!source || !descriptor ||
        FAILED(source->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void **>(&mediaSource))))
        return nullptr;
    DWORD count = 0;
    if (FAILED(descriptor->GetStreamDescriptorCount(&count)))
        return nullptr;
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        CComPtr<IMFStreamDescriptor> stream;
        CComPtr<IMFMediaTypeHandler> handler;
        GUID major = GUID_NULL;
        if (FAILED(descriptor->GetStreamDescriptorByIndex(i, &selected, &stream)) ||
            FAILED(stream->GetMediaTypeHandler(&handler)) || FAILED(handler->GetMajorType(&major)) ||
            major != majorType)
            continue;
        CComPtr<IMFTopologyNode> node;
        if (FAILED(MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &node)) ||
            FAILED(node->SetUnknown(MF_TOPONODE_SOURCE, mediaSource)) ||
            FAILED(node->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, descriptor)) ||
            FAILED(node->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream)))
            return nullptr;
        if (streamIndex)
            *streamIndex = i;
        return node;
    }
    return nullptr;
}
