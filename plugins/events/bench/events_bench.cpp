// Loading an events file of 100,000 events, and refiltering it.

#include "eventcollectionworker.h"
#include "eventmetatypes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {
constexpr int kEventCount = 100000;

QString eventsFile()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.path() + "/events.json";
        QFile file(p);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(p));
        const char *types[] = {"Goal", "Foul", "Corner", "Offside", "Yellow card", "Substitution"};
        for (int i = 0; i < kEventCount; ++i) {
            EventRecord event;
            event.time = i * 250.0;
            event.boardTime = (i % 3 == 0) ? -1 : 36000000 + i * 250.0;
            event.type = QString::fromLatin1(types[i % 6]);
            event.color = QStringLiteral("#ff8800");
            event.comment = QStringLiteral("Comment number %1").arg(i);
            file.write("\n" + event.toLine());
        }
        return p;
    }();
    return path;
}

QVariantList filters()
{
    return {QVariantMap{{"type", ""}, {"color", "gray"}, {"visible", true}},
            QVariantMap{{"type", "G*"}, {"color", "green"}, {"visible", true}},
            QVariantMap{{"type", "*card"}, {"color", "yellow"}, {"visible", true}},
            QVariantMap{{"type", "Offside"}, {"color", "red"}, {"visible", false}}};
}

void BM_LoadAndFilter(benchmark::State &state)
{
    const QUrl url = QUrl::fromLocalFile(eventsFile());
    int shown = 0;
    for (auto _ : state) {
        EventCollectionWorker worker;
        QObject::connect(&worker, &EventCollectionWorker::filtered,
                         [&](const QVector<FilteredEvent> &events) { shown = events.size(); });
        worker.setFilters(filters());
        worker.setFileUrl(url);
    }
    int hidden = 0; // Offside is every sixth event, starting at 3
    for (int i = 3; i < kEventCount; i += 6)
        ++hidden;
    if (shown != kEventCount - hidden)
        state.SkipWithError("wrong number of filtered events");
    state.counters["events"] = kEventCount;
}
BENCHMARK(BM_LoadAndFilter)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_Refilter(benchmark::State &state)
{
    EventCollectionWorker worker;
    worker.setFileUrl(QUrl::fromLocalFile(eventsFile()));
    const QVariantList list = filters();
    for (auto _ : state)
        worker.setFilters(list);
}
BENCHMARK(BM_Refilter)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerEventMetaTypes();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
