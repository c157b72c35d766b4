#pragma once
// A node of the media graph: a QObject with input and output pins that builds Media Foundation
// objects and binds its pins to topology nodes. Node operations run on the GUI thread.

#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/nodepin.h"

#include <QList>
#include <QObject>
#include <QVector>

class FrameHistory;

class MediaNode : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int status READ status NOTIFY statusChanged)
    Q_PROPERTY(QList<QObject *> outputs READ outputObjects NOTIFY outputsChanged)

public:
    enum Status
    {
        StatusNone = 0,
        StatusCreating = 2,
        StatusReady = 3,
        StatusError = 4
    };
    Q_ENUM(Status)

    explicit MediaNode(QObject *parent = nullptr);
    ~MediaNode() override;

    int status() const { return m_status; }
    void setStatus(int status);

    void setInputCount(int count);
    void setOutputCount(int count);
    int inputCount() const { return m_inputs.size(); }
    int outputCount() const { return m_outputs.size(); }
    NodeInput *getInput(int index) const;
    NodeOutput *getOutput(int index) const;

    void addMfNode(IMFTopologyNode *node);
    // Unbinds every pin and drops the topology nodes.
    void clearMfNodes();
    // Drops the topology nodes and leaves the pins bound until they are given the new ones: a node
    // made anew rebinds its pins in one step, so that the nodes connected to them see no gap.
    void dropMfNodes() { m_mfNodes.clear(); }
    QVector<CComPtr<IMFTopologyNode>> mfNodes() const { return m_mfNodes; }

    // Runs create() once on the next turn of the event loop, however often it is asked.
    Q_INVOKABLE void requestCreate();
    // create() is asked for and has not run yet.
    bool isCreatePending() const { return m_createPending; }

    virtual bool needEnumerateMediaTypes() const { return false; }
    virtual void onTopologyCreated() {}
    virtual void cancel() = 0;
    virtual void create() = 0;

signals:
    void statusChanged();
    void outputsChanged();

private:
    QList<QObject *> outputObjects() const;

    int m_status = StatusNone;
    bool m_createPending = false;
    QVector<NodeInput *> m_inputs;
    QVector<NodeOutput *> m_outputs;
    QVector<CComPtr<IMFTopologyNode>> m_mfNodes;
};

class MediaNodeWithFrameHistory : public MediaNode
{
    Q_OBJECT
public:
    using MediaNode::MediaNode;
    virtual FrameHistory *frameHistory() = 0;
};
