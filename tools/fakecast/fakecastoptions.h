#pragma once

#include <QHostAddress>
#include <QStringList>

// The command line of Fakecast.
struct FakecastOptions
{
    QHostAddress arAddress{QHostAddress::LocalHost}; // where the receiver under test listens
    QHostAddress vsAddress{QHostAddress::LocalHost}; // where feedback comes back to
    quint16 portFeedback = 0;
    quint16 portControl = 0;

    // Scans the arguments (program name included); false when the usage text is due.
    static bool parse(const QStringList &arguments, FakecastOptions *options);
    static QByteArray usage();
};
