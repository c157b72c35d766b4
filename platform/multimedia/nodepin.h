#pragma once
// The pins of a media graph node. A node binds each pin to a topology node: an output pin to a
// source-stream node (media source, presentation descriptor, stream descriptor), an input pin to
// an output node whose object is a stream sink. Pins live on the GUI thread.

#include "com/comptr.h"
#include "mf/mf.h"

#include <QObject>
#include <QPointer>

class MediaNode;
class NodeConnection;

class NodePin : public QObject
{
    Q_OBJECT
    Q_PROPERTY(MediaNode *node READ node CONSTANT)
    Q_PROPERTY(int index READ index CONSTANT)
    Q_PROPERTY(bool bound READ isBound NOTIFY mfNodeChanged)

public:
    NodePin(MediaNode *node, int index);
    // A pin of no node (a placeholder made in QML).
    explicit NodePin(QObject *parent = nullptr);
    ~NodePin() override;

    MediaNode *node() const { return m_node; }
    int index() const { return m_index; }
    // Binds the pin to a topology node and the node's stream index (null unbinds).
    void setMfNode(IMFTopologyNode *node, DWORD index);
    CComPtr<IMFTopologyNode> mfNode() const { return m_mfNode; }
    DWORD mfIndex() const { return m_mfIndex; }
    bool isBound() const { return m_mfNode != nullptr; }

signals:
    void mfNodeChanged();

private:
    MediaNode *m_node = nullptr;
    int m_index = 0;
    CComPtr<IMFTopologyNode> m_mfNode;
    DWORD m_mfIndex = 0;
};

class NodeOutput : public NodePin
{
    Q_OBJECT
public:
    using NodePin::NodePin;
    explicit NodeOutput(QObject *parent = nullptr) : NodePin(parent) {}

    // The current media type of the bound stream (null while unbound).
    CComPtr<IMFMediaType> getMfMediaType() const;
    CComPtr<IMFMediaSource> mediaSource() const;
    CComPtr<IMFPresentationDescriptor> presentationDescriptor() const;
    CComPtr<IMFStreamDescriptor> streamDescriptor() const;
};

class NodeInput : public NodePin
{
    Q_OBJECT
public:
    using NodePin::NodePin;
    explicit NodeInput(QObject *parent = nullptr) : NodePin(parent) {}

    // The media type of the output this input is connected to; null while unconnected.
    CComPtr<IMFMediaType> getConnectedMfMediaType() const { return m_connectedType; }
    // The stream sink of the bound topology node (null while unbound).
    CComPtr<IMFStreamSink> streamSink() const;
    NodeConnection *connection() const;

    // Called by the connection that feeds this input.
    void setConnection(NodeConnection *connection, IMFMediaType *type);

signals:
    void connectedMediaTypeChanged();

private:
    QPointer<NodeConnection> m_connection;
    CComPtr<IMFMediaType> m_connectedType;
};
