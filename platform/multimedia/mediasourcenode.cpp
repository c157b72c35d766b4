#include "multimedia/mediasourcenode.h"

CComPtr<IMFPresentationDescriptor> getCleanPresentationDescriptor(IMFMediaSource *source)
{
    CComPtr<IMFPresentationDescriptor> descriptor;
    if (!source || FAILED(source->CreatePresentationDescriptor(&descriptor)))
        return nullptr;
    DWORD count = 0;
    descriptor->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; i < count; ++i)
        descriptor->SelectStream(i);
    return descriptor;
}

CComPtr<IMFTopologyNode> createMediaSourceNode(IMFMediaSource *source, IMFPresentationDescriptor *descriptor,
                                               REFGUID majorType, DWORD *streamIndex)
{
    if (!source || !descriptor)
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
        HRESULT hr = MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &node);
        if (SUCCEEDED(hr))
            hr = node->SetUnknown(MF_TOPONODE_SOURCE, source);
        if (SUCCEEDED(hr))
            hr = node->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, descriptor);
        if (SUCCEEDED(hr))
            hr = node->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream);
        if (FAILED(hr))
            return nullptr;
        if (streamIndex)
            *streamIndex = i;
        return node;
    }
    return nullptr;
}
