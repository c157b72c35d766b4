#pragma once
// Connects one output pin to one input pin: hands the output's media type to the input once the
// output is bound. One output may feed several connections (fan-out).

#include <QObject>
#include <QPointer>

#include "multimedia/nodepin.h"

class NodeConnection : public QObject
{
    Q_OBJECT
    // QObject-typed so that placeholder pins of nodes not built yet can be named too.
    Q_PROPERTY(QObject *from READ fromObject WRITE setFromObject NOTIFY fromChanged)
    Q_PROPERTY(QObject *to READ toObject WRITE setToObject NOTIFY toChanged)
    Q_PROPERTY(bool connected READ isConnected NOTIFY connectedChanged)

public:
    explicit NodeConnection(QObject *parent = nullptr);
    ~NodeConnection() override;

    NodeOutput *from() const { return m_from; }
    QObject *fromObject() const { return m_fromObject; }
    void setFromObject(QObject *from);
    QObject *toObject() const { return m_toObject; }
    void setToObject(QObject *to);
    void setFrom(NodeOutput *from);
    NodeInput *to() const { return m_to; }
    void setTo(NodeInput *to);
    // Both ends are set and the output has a media type.
    bool isConnected() const { return m_connected; }

signals:
    void fromChanged();
    void toChanged();
    void connectedChanged();

private:
    void update();
    void detachInput(NodeInput *input);

    QPointer<QObject> m_fromObject;
    QPointer<QObject> m_toObject;
    QPointer<NodeOutput> m_from;
    QPointer<NodeInput> m_to;
    QMetaObject::Connection m_fromBinding;
    bool m_connected = false;
};
