#pragma once
// The running-line test signal as a graph node (QML: RunningLineSource): NV12 frames of frameSize at
// frameRateNumerator/frameRateDenominator on its output, produced live while its session plays.

#include "multimedia/medianode.h"

#include <QSize>

class RunningLineSourceNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(QSize frameSize READ frameSize WRITE setFrameSize NOTIFY frameSizeChanged)
    Q_PROPERTY(
        int frameRateNumerator READ frameRateNumerator WRITE setFrameRateNumerator NOTIFY frameRateChanged)
    Q_PROPERTY(int frameRateDenominator READ frameRateDenominator WRITE setFrameRateDenominator NOTIFY
                   frameRateChanged)
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)

public:
    explicit RunningLineSourceNode(QObject *parent = nullptr);
    ~RunningLineSourceNode() override;

    QSize frameSize() const { return m_frameSize; }
    void setFrameSize(const QSize &size);
    int frameRateNumerator() const { return m_rateNum; }
    void setFrameRateNumerator(int value);
    int frameRateDenominator() const { return m_rateDen; }
    void setFrameRateDenominator(int value);
    NodeOutput *output() const { return getOutput(0); }

    void cancel() override {}
    void create() override;

signals:
    void frameSizeChanged();
    void frameRateChanged();

private:
    void release();

    QSize m_frameSize{1920, 1080};
    int m_rateNum = 25;
    int m_rateDen = 1;
    CComPtr<IMFMediaSource> m_source;
};
