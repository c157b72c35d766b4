#pragma once
// The capture board as QML sees it (singleton KX): its outputs, each an object with a name.

#include <QList>
#include <QObject>

class KXOutput : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
public:
    KXOutput(const QString &name, QObject *parent) : QObject(parent), m_name(name) {}
    QString name() const { return m_name; }

private:
    QString m_name;
};

class KXBoard : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<QObject *> outputs READ outputs CONSTANT)
public:
    explicit KXBoard(QObject *parent = nullptr);
    QList<QObject *> outputs() const { return m_outputs; }

private:
    QList<QObject *> m_outputs;
};
