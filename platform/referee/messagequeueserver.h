#pragma once
// The message-queue server object. CoCreateInstance(CLSID_MessageQueueServer) makes one on the TCP
// transport; tests register one on an in-process transport under the same class id.

#include "messagequeue.h"
#include "messagetransport.h"

#include <memory>

namespace nyx::referee {
// A new server object (one reference, for CComPtr::Attach).
IMessageQueueServer *createMessageQueueServer(std::shared_ptr<MessageTransport> transport);
// A class factory for nyx::com::registerClass that makes servers on transport.
nyx::com::ClassFactory messageQueueServerFactory(std::shared_ptr<MessageTransport> transport);
} // namespace nyx::referee
