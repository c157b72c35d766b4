// Test helper: plays the running line into a capture board output, as another program would.
// Usage: kx_loopback_writer <output name> <frames, -1 = until killed> <strip base value>
// Each frame carries base + its number in its time strip. Prints "writing" once the first frame is out.
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/kx/kxloopback.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

using namespace nyx::multimedia;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const qint64 frames = args[2].toLongLong();
    const quint64 base = args[3].toULongLong();
    KXLoopbackWriter writer(args[1]);
    if (!writer.isValid())
        return 1;
    RunningLine line(1920, 1080, 25, 1);
    for (qint64 i = 0; frames < 0 || i < frames; ++i) {
        Nv12Frame f = line.frame(i);
        TimeStrip::draw(f, base + quint64(i));
        if (!writer.write(f))
            return 1;
        if (i == 0) {
            std::printf("writing\n");
            std::fflush(stdout);
        }
        QThread::msleep(40);
    }
    return 0;
}
