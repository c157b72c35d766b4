// Fuzzes the receiver's datagram path: the input is a run of datagrams, each introduced by a
// sender byte, a clock step byte and a 16-bit length, fed to one long-lived receiver so that
// its per-sender state is exercised as well.
#include "beaconclient.h"
#include "protocolevent.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {
qint64 g_now = 1'600'000'000'000;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

BeaconClient &receiver()
{
    static int argc = 1;
    static char name[] = "beacon_fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static BeaconClient *client = [] {
        qInstallMessageHandler(quiet);
        auto *c = new BeaconClient;
        // Feedback goes to the discard port of loopback addresses.
        c->setPortFeedback(9);
        c->setClock([] { return g_now; });
        QObject::connect(c, &BeaconClient::eventReceived, [](ProtocolEvent *event) {
            // Touch what QML would read.
            (void)event->source().size();
            (void)event->timeOnBoard().isValid();
            delete event;
        });
        return c;
    }();
    return *client;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    BeaconClient &client = receiver();
    size_t offset = 0;
    while (offset + 4 <= size) {
        const uint8_t sender = data[offset];
        const uint8_t step = data[offset + 1];
        size_t length = static_cast<size_t>(data[offset + 2]) | (static_cast<size_t>(data[offset + 3]) << 8);
        offset += 4;
        length = std::min(length, size - offset);
        g_now += static_cast<qint64>(step) * 50;
        // A heap copy of exactly the datagram's size, so reads past it are caught.
        std::unique_ptr<char[]> datagram(new char[length ? length : 1]);
        std::memcpy(datagram.get(), data + offset, length);
        client.processDatagram(datagram.get(), static_cast<qint64>(length),
                               QHostAddress(0x7F000001u + (sender % 8u)));
        offset += length;
    }
    return 0;
}
