#pragma once
// Topology nodes for the streams of a media source.

#include "com/comptr.h"
#include "mf/mf.h"

// A fresh presentation descriptor of the source with every stream selected.
CComPtr<IMFPresentationDescriptor> getCleanPresentationDescriptor(IMFMediaSource *source);

// A source-stream topology node for the first stream of the major type (its index in
// streamIndex); null when the descriptor has none.
CComPtr<IMFTopologyNode> createMediaSourceNode(IMFMediaSource *source, IMFPresentationDescriptor *descriptor,
                                               REFGUID majorType, DWORD *streamIndex);
