// Fuzzes the XML reader and the link's answer handling: each input is read as a document on
// its own and then handed to a running link as a JudgeDesk answer.

#include "fakereferee.h"
#include "refereelink.h"
#include "refereetext.h"
#include "xmldocument.h"

#include <QLoggingCategory>
#include <cstddef>
#include <cstdint>

namespace {
struct Harness
{
    FakeReferee referee;
    CRefereeLink link;
    bool running = false;

    Harness()
    {
        nyx::win32::setDebugOutputSink([](const std::string &) {});
        QLoggingCategory::setFilterRules(QStringLiteral("Multimedia.Rewind.warning=false"));
        running = startLink(referee, link, 3, 2);
        referee.answerAndSettle(link, xml::types({"Goal", "Foul"}));
    }
};

// The first byte picks what the rest is wrapped in, so that every answer kind is reached.
QString answerFor(std::uint8_t kind, const QString &body)
{
    switch (kind % 6) {
    case 0:
        return body;
    case 1:
        return QStringLiteral("<JudgeDesk>") + body + QStringLiteral("</JudgeDesk>");
    case 2:
        return QStringLiteral("<JudgeDesk><Cameras PlayAudioCam=\"2\">") + body +
               QStringLiteral("</Cameras></JudgeDesk>");
    case 3:
        return QStringLiteral("<JudgeDesk><EventTypes>") + body + QStringLiteral("</EventTypes></JudgeDesk>");
    case 4: {
        // A new list every time, of one event, so that its answer finishes the scan and the fuzzed
        // event reaches the table.
        static int stateChange = 0;
        return QStringLiteral("<JudgeDesk><Events StateChange=\"%1\" Count=\"1\"/></JudgeDesk>")
            .arg(++stateChange);
    }
    default:
        return QStringLiteral("<JudgeDesk><Event Index=\"0\" Name=\"Goal\">") + body +
               QStringLiteral("</Event></JudgeDesk>");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Harness harness;
    if (size < 1)
        return 0;
    const QString utf8 = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), int(size - 1));

    XmlDocument document;
    document.parse(reinterpret_cast<const char16_t *>(data + 1), size - 1); // raw UTF-16, odd lengths too
    document.parse(utf8);
    parseBoardTime(utf8);
    parseHexText(utf8);

    if (harness.running) {
        harness.referee.answerAndSettle(harness.link, answerFor(data[0], utf8));
        if (data[0] % 6 == 4) // a scan is open: feed the body as its events
            harness.referee.answerAndSettle(harness.link, answerFor(5, utf8));
        harness.link.GetEvents();
        harness.link.GetCameras();
        std::uint64_t time = 0x01DB000000000000ULL;
        harness.link.CreateEvent(QStringLiteral("goal"), utf8, time);
    }
    return 0;
}
