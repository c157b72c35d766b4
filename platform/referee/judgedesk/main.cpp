// JudgeDesk: a stand-in referee application that answers the referee link over TCP.

#include "cameraarchive.h"
#include "consolereader.h"
#include "deskconfig.h"
#include "deskserver.h"
#include "faultcontrol.h"
#include "refereedesk.h"

#include "archive/archiveserver.h"
#include "referee/messagewire.h"
#include "win32/shellfolders.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTextStream>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("JudgeDesk"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in referee application for the referee link."));
    parser.addHelpOption();
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("Configuration file (JSON)."),
                                    QStringLiteral("file"));
    const QCommandLineOption events(QStringLiteral("events"),
                                    QStringLiteral("Events file, instead of the configured one."),
                                    QStringLiteral("file"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("TCP port (default %1; 0 picks a free one).").arg(nyx::referee::wire::kDefaultPort),
        QStringLiteral("port"), QString::number(nyx::referee::wire::kDefaultPort));
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default: 127.0.0.1, this machine only; "
                       "0.0.0.0 listens on every address)."),
        QStringLiteral("address"));
    const QCommandLineOption control(QStringLiteral("control"),
                                     QStringLiteral("Fault control file (JSON), read on change."),
                                     QStringLiteral("file"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Answer nothing."));
    const QCommandLineOption drop(QStringLiteral("drop"),
                                  QStringLiteral("Drop answers to matching requests."),
                                  QStringLiteral("regex"));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Delay answers to matching requests."),
                                   QStringLiteral("regex"));
    const QCommandLineOption delayMs(QStringLiteral("delay-ms"),
                                     QStringLiteral("The delay in ms (default 2000)."), QStringLiteral("ms"),
                                     QStringLiteral("2000"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Split event ranges into answers of N events."),
                                   QStringLiteral("n"));
    const QCommandLineOption malformed(QStringLiteral("malformed"),
                                       QStringLiteral("Answer matching requests with malformed XML."),
                                       QStringLiteral("regex"));
    const QCommandLineOption truncate(QStringLiteral("truncate"),
                                      QStringLiteral("Cut answers to matching requests in half."),
                                      QStringLiteral("regex"));
    parser.addOptions(
        {config, events, port, listen, control, silent, drop, delay, delayMs, split, malformed, truncate});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    DeskConfig deskConfig;
    QString error;
    if (!parser.isSet(config)) {
        err << "JudgeDesk: --config is required\n";
        return 2;
    }
    if (!deskConfig.load(parser.value(config), &error)) {
        err << "JudgeDesk: " << error << "\n";
        return 2;
    }
    if (parser.isSet(events))
        deskConfig.eventsFile = parser.value(events);

    // The referee application shares the station's archive, not one of its own.
    if (qEnvironmentVariableIsEmpty(nyx::archive::kRootVariable))
        qputenv(nyx::archive::kRootVariable,
                QFile::encodeName(nyx::shell::applicationDataDirectory(QStringLiteral("TundraRecorder")) +
                                  QStringLiteral("/Archive")));
    CameraArchive archive(deskConfig.storage, deskConfig.cameras);
    RefereeDesk desk(deskConfig, &archive);
    if (!desk.loadEvents(&error)) {
        err << "JudgeDesk: " << error << "\n";
        return 2;
    }
    archive.open();

    Faults faults;
    faults.silent = parser.isSet(silent);
    faults.drop = FaultControl::pattern(parser.value(drop));
    faults.delay = FaultControl::pattern(parser.value(delay));
    faults.delayMs = parser.value(delayMs).toInt();
    faults.split = parser.value(split).toInt();
    faults.malformed = FaultControl::pattern(parser.value(malformed));
    faults.truncate = FaultControl::pattern(parser.value(truncate));
    FaultControl faultControl(faults, parser.value(control));

    DeskServer server(&desk, &faultControl);
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    // The station trusts the events this desk creates: only this machine reaches it unless told otherwise.
    const QHostAddress address =
        parser.isSet(listen) ? QHostAddress(parser.value(listen)) : QHostAddress(QHostAddress::LocalHost);
    if (!portOk || portNumber > 65535 || address.isNull() ||
        !server.listen(address, static_cast<quint16>(portNumber))) {
        err << "JudgeDesk: cannot listen on " << parser.value(listen) << ":" << parser.value(port) << ": "
            << server.errorString() << "\n";
        return 1;
    }
    out << "JudgeDesk listening on port " << server.port() << " at " << server.address().toString()
        << Qt::endl;

    QObject::connect(&desk, &RefereeDesk::eventAdded, &app,
                     [&out](const QString &description) { out << "event " << description << Qt::endl; });
    ConsoleReader console;
    QObject::connect(&console, &ConsoleReader::lineRead, &app, [&desk, &out](const QString &line) {
        QString message;
        if (!desk.addConsoleEvent(line, &message))
            out << message << Qt::endl;
    });
    return app.exec();
}
