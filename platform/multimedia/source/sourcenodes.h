#pragma once
// Helpers that put a media source into the graph: its presentation descriptor with nothing
// selected, and a source-stream topology node per major type.

#include "com/comptr.h"
#include "mf/mf.h"

// A copy of the source's presentation descriptor with every stream deselected; null on failure.
CComPtr<IMFPresentationDescriptor> getCleanPresentationDescriptor(IUnknown *source);

// A source-stream node (MF_TOPONODE_SOURCE, _PRESENTATION_DESCRIPTOR, _STREAM_DESCRIPTOR) for the
// first stream of descriptor whose major type is majorType, and that stream's index; null if none.
CComPtr<IMFTopologyNode> createMediaSourceNode(IUnknown *source, IMFPresentationDescriptor *descriptor,
                                               const GUID &majorType, DWORD *streamIndex);
