#pragma once
// Records the names of an object's signals in the order they are emitted.

#include <QMetaMethod>
#include <QObject>
#include <QStringList>

class SignalRecorder : public QObject
{
    Q_OBJECT
public:
    explicit SignalRecorder(QObject *source)
    {
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("hit()"));
        const QMetaObject *mo = source->metaObject();
        for (int i = QObject::staticMetaObject.methodCount(); i < mo->methodCount(); ++i) {
            const QMetaMethod m = mo->method(i);
            if (m.methodType() == QMetaMethod::Signal && m.parameterCount() == 0)
                connect(source, m, this, slot);
        }
    }
    QStringList names;

public slots:
    void hit() { names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()); }
};
