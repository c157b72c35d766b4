#include "multimedia/mediabuffermapping.h"

#include "multimedia/comexception.h"

MediaBufferMapping::MediaBufferMapping(IMFMediaBuffer *buffer) : m_buffer(buffer)
{
    if (!buffer)
        throw ComException(E_POINTER);
    throwIfFailed(buffer->Lock(&m_bytes, &m_maxLength, &m_currentLength));
}

MediaBufferMapping::~MediaBufferMapping()
{
    m_buffer->Unlock();
}

void MediaBufferMapping::setCurrentLength(DWORD length)
{
    throwIfFailed(m_buffer->SetCurrentLength(length));
    m_currentLength = length;
}
