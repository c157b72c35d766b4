#pragma once
// The message-queue server as the referee link calls it. The server posts a window message to the
// window of a queue whenever a message arrives in that queue.

#include "com/com.h"

extern const CLSID CLSID_MessageQueueServer; // {F392FA1B-1348-4AAD-8A0E-F1B0FFE6A893}
extern const IID IID_IMessageQueueServer;    // {FA8A4550-8AC3-4B4B-A2F0-BDA19D84769C}
extern const IID IID_IMessageQueue;          // {FDED91F0-91B7-446C-B753-9C6AC1F9B686}

constexpr LONG kMessageKindText = 1;

struct IMessageQueueServer : IUnknown
{
    // Entries of the server that the link does not use; they answer E_NOTIMPL.
    virtual HRESULT Reserved1() = 0;
    virtual HRESULT Reserved2() = 0;
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT Reserved4() = 0;
    virtual HRESULT Reserved5() = 0;
    virtual HRESULT Reserved6() = 0;
    // Makes the local queue queueName; message is posted to window (its low 32 bits) for every arrival.
    virtual HRESULT CreateQueue(ULONG *error, LONG *result, BSTR queueName, LONG window, ULONG message,
                                LONG reserved1, LONG reserved2, IUnknown **queue) = 0;
};
NYX_DECLARE_IID(IMessageQueueServer, IID_IMessageQueueServer)

struct IMessageQueue : IUnknown
{
    virtual HRESULT Reserved1() = 0;
    virtual HRESULT Reserved2() = 0;
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT Reserved4() = 0;
    virtual HRESULT Reserved5() = 0;
    virtual HRESULT GetPendingCount(LONG *count, LONG *reserved) = 0;
    // S_OK with the oldest message; S_FALSE when none waits. The caller frees the four texts:
    // sender host, sender queue, message text, own queue name. number is the sender's message number.
    virtual HRESULT ReadMessage(LONG *number, LONG *reserved1, LONG *kind, LONG *reserved2, LONG *reserved3,
                                LONG *reserved4, LONG *reserved5, BSTR *host, BSTR *sourceQueue, BSTR *text,
                                BSTR *ownQueue) = 0;
    // Sends text to targetQueue on host; the answer goes to replyQueue. Success: S_OK, error 0, status 1.
    virtual HRESULT Send(LONG *status, LONG *error, LONG number, LONG reserved1, LONG reserved2, BSTR host,
                         BSTR targetQueue, BSTR text, BSTR replyQueue) = 0;
};
NYX_DECLARE_IID(IMessageQueue, IID_IMessageQueue)
