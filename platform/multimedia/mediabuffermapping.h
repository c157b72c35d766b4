#pragma once
// Keeps a media buffer locked (its bytes mapped) for the lifetime of the object.

#include "com/comptr.h"
#include "mf/mf.h"

class MediaBufferMapping
{
public:
    // Throws ComException when the buffer is null (E_POINTER) or cannot be locked.
    explicit MediaBufferMapping(IMFMediaBuffer *buffer);
    ~MediaBufferMapping();
    MediaBufferMapping(const MediaBufferMapping &) = delete;
    MediaBufferMapping &operator=(const MediaBufferMapping &) = delete;

    BYTE *buffer() const { return m_bytes; }
    DWORD currentLength() const { return m_currentLength; }
    DWORD maxLength() const { return m_maxLength; }
    // Throws ComException when the length exceeds the buffer.
    void setCurrentLength(DWORD length);

private:
    CComPtr<IMFMediaBuffer> m_buffer;
    BYTE *m_bytes = nullptr;
    DWORD m_maxLength = 0;
    DWORD m_currentLength = 0;
};
