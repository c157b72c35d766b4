#include "multimedia/nodeconnection.h"

NodeConnection::NodeConnection(QObject *parent) : QObject(parent) {}

NodeConnection::~NodeConnection()
{
    detachInput(m_to);
}

void NodeConnection::setFromObject(QObject *from)
{
    if (m_fromObject == from)
        return;
    m_fromObject = from;
    setFrom(qobject_cast<NodeOutput *>(from));
    emit fromChanged();
}

void NodeConnection::setToObject(QObject *to)
{
    if (m_toObject == to)
        return;
    m_toObject = to;
    setTo(qobject_cast<NodeInput *>(to));
    emit toChanged();
}

void NodeConnection::setFrom(NodeOutput *from)
{
    if (m_from == from)
        return;
    if (m_fromObject != from) {
        m_fromObject = from;
        emit fromChanged();
    }
    disconnect(m_fromBinding);
    m_from = from;
    if (from)
        m_fromBinding = connect(from, &NodePin::mfNodeChanged, this, &NodeConnection::update);
    update();
}

void NodeConnection::setTo(NodeInput *to)
{
    if (m_to == to)
        return;
    detachInput(m_to);
    m_to = to;
    if (m_toObject != to) {
        m_toObject = to;
        emit toChanged();
    }
    update();
}

void NodeConnection::detachInput(NodeInput *input)
{
    if (input && input->connection() == this)
        input->setConnection(nullptr, nullptr);
}

void NodeConnection::update()
{
    CComPtr<IMFMediaType> type = m_from ? m_from->getMfMediaType() : nullptr;
    if (m_to) {
        if (type)
            m_to->setConnection(this, type);
        else
            detachInput(m_to);
    }
    const bool connected = m_to && type;
    if (connected != m_connected) {
        m_connected = connected;
        emit connectedChanged();
    }
}
