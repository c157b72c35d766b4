// Fakecast: plays the remote event source for tests of the station's event receiver.
#include "eventlines.h"
#include "fakecastoptions.h"
#include "task.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    FakecastOptions options;
    if (!FakecastOptions::parse(QCoreApplication::arguments(), &options)) {
        const QByteArray usage = FakecastOptions::usage();
        std::fwrite(usage.constData(), 1, static_cast<size_t>(usage.size()), stdout);
        return 1;
    }

    QString error;
    QVector<QByteArray> lines = eventlines::read(QStringLiteral("koi8_strings.txt"), &error);
    if (lines.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    auto *task = new Task(options, std::move(lines), &app);
    QObject::connect(task, &Task::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, task, &Task::run);
    return app.exec();
}
