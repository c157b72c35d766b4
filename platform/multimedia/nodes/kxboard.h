#pragma once
// The capture board as QML sees it (singleton KX): its outputs, each an object with a "name"
// (plain script objects, so that views read the role "name" from them like from any model row).

#include <QObject>
#include <QVariantList>

class KXBoard : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList outputs READ outputs CONSTANT)
public:
    explicit KXBoard(QObject *parent = nullptr);
    QVariantList outputs() const { return m_outputs; }

private:
    QVariantList m_outputs;
};
