#pragma once
// Plays NV12 video into an output of the capture board (QML: KXSink { output: KX.outputs[i] }): the
// board's input of the same number shows it, in this process or any other, while the session plays.

#include "multimedia/medianode.h"

#include <QVariant>

class KXSinkNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *videoInput READ videoInput CONSTANT)
    // An output object of KX.outputs (its "name" counts), or the output's name.
    Q_PROPERTY(QVariant output READ output WRITE setOutput NOTIFY outputChanged)

public:
    explicit KXSinkNode(QObject *parent = nullptr);
    ~KXSinkNode() override;

    NodeInput *videoInput() const { return getInput(0); }
    QVariant output() const { return m_output; }
    void setOutput(const QVariant &output);
    // The output's name as given ("KX788 Board 1 Output 1"); empty when none.
    QString outputName() const;

    void cancel() override {}
    void create() override;

signals:
    void outputChanged();

private:
    void release();

    QVariant m_output;
    CComPtr<IMFMediaSink> m_sink;
};
