#pragma once

#include <QObject>
#include <QStringList>

// The IPv4 addresses of the station's network interfaces that are up, loopback excluded.
class AddressEnumerator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList addresses READ addresses NOTIFY addressesChanged)

public:
    explicit AddressEnumerator(QObject *parent = nullptr);

    // Computed afresh on every read.
    QStringList addresses() const;

signals:
    void addressesChanged();
};
