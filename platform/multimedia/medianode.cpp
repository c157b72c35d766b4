#include "multimedia/medianode.h"

#include "multimedia/activator.h"

MediaNode::MediaNode(QObject *parent) : QObject(parent)
{
    nyx::multimedia::registerMetaTypes();
}

MediaNode::~MediaNode() = default;

void MediaNode::setStatus(int status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void MediaNode::setInputCount(int count)
{
    while (m_inputs.size() > count)
        delete m_inputs.takeLast();
    while (m_inputs.size() < count) {
        auto *input = new NodeInput(this, m_inputs.size());
        // A newly connected media type is what a sink node builds for.
        connect(input, &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
        m_inputs.append(input);
    }
}

void MediaNode::setOutputCount(int count)
{
    if (count == m_outputs.size())
        return;
    while (m_outputs.size() > count)
        delete m_outputs.takeLast();
    while (m_outputs.size() < count)
        m_outputs.append(new NodeOutput(this, m_outputs.size()));
    emit outputsChanged();
}

NodeInput *MediaNode::getInput(int index) const
{
    return index >= 0 && index < m_inputs.size() ? m_inputs[index] : nullptr;
}

NodeOutput *MediaNode::getOutput(int index) const
{
    return index >= 0 && index < m_outputs.size() ? m_outputs[index] : nullptr;
}

QList<QObject *> MediaNode::outputObjects() const
{
    QList<QObject *> list;
    for (NodeOutput *output : m_outputs)
        list.append(output);
    return list;
}

void MediaNode::addMfNode(IMFTopologyNode *node)
{
    if (node)
        m_mfNodes.append(CComPtr<IMFTopologyNode>(node));
}

void MediaNode::clearMfNodes()
{
    for (NodeInput *input : m_inputs)
        input->setMfNode(nullptr, 0);
    for (NodeOutput *output : m_outputs)
        output->setMfNode(nullptr, 0);
    m_mfNodes.clear();
}

void MediaNode::requestCreate()
{
    if (m_createPending)
        return;
    m_createPending = true;
    QMetaObject::invokeMethod(
        this,
        [this]() {
            m_createPending = false;
            create();
        },
        Qt::QueuedConnection);
}
