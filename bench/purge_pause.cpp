// Purge benchmark: how long a retention purge of many rows holds up new events. Fills a new file
// database with ROWS events older than the limit (default 1,000,000), then, on one event loop as
// the logger runs, writes a new event every millisecond while Retention deletes the old rows and
// gives their space back. Prints the longest and the 99.9th percentile gap between two new
// events (1 ms when nothing holds them up), before and during the purge, the purge's duration
// and the file's size before and after.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "record/Retention.h"
#include "report/Reporter.h"
#include "store/Store.h"
#include "support/DateText.h"

namespace {

struct Gaps {
    std::vector<double> ms;
    double longest() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    double percentile(double p) const {
        if (ms.empty()) {
            return 0;
        }
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/purge.mdb");
    Store store;
    const DatabaseSettings settings{DatabaseKind::File, {}, path, QStringLiteral("tblQuilljot")};
    if (const auto opened = store.open(settings); opened.open || opened.create) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
        return 1;
    }
    const QString data = QStringLiteral("Event from the living room, light on at level 42");
    for (int i = 0; i < rows;) {
        (void)store.beginBatch();
        for (int n = 0; n < 10000 && i < rows; ++n, ++i) {
            (void)store.insert(LogEvent{QStringLiteral("2025-01-01 00:00:00"),
                                        QStringLiteral("vendor.device.host"), QStringLiteral("Log"),
                                        data + QString::number(i)});
        }
        (void)store.endBatch();
    }
    (void)store.releaseSpace(1);  // checkpoints the log into the file
    const qint64 before = QFileInfo(path).size();

    MemoryReporter reporter;
    Retention retention(store, reporter, [] { return QDateTime::currentDateTime(); });
    Gaps idle;
    Gaps purging;
    Gaps* gaps = &idle;
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    QTimer newEvents;
    newEvents.setTimerType(Qt::PreciseTimer);
    newEvents.setInterval(1);
    QObject::connect(&newEvents, &QTimer::timeout, [&] {
        (void)store.beginBatch();
        (void)store.insert(LogEvent{DateText::isoText(QDateTime::currentDateTime()),
                                    QStringLiteral("bench.new.event"), QStringLiteral("Log"),
                                    QStringLiteral("new")});
        (void)store.endBatch();
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) {
            gaps->ms.push_back(double(now - last) / 1e6);
        }
        last = now;
    });
    QElapsedTimer purgeTime;
    QObject::connect(&retention, &Retention::purged, [&](qint64 gone) {
        const double seconds = double(purgeTime.elapsed()) / 1000;
        newEvents.stop();
        std::printf("%d old rows, a new event every ms written in the same loop\n", rows);
        std::printf("before the purge: longest gap %.1f ms, 99.9%% %.1f ms (%zu events)\n",
                    idle.longest(), idle.percentile(0.999), idle.ms.size());
        std::printf("during the purge: longest gap %.1f ms, 99.9%% %.1f ms (%zu events)\n",
                    purging.longest(), purging.percentile(0.999), purging.ms.size());
        std::printf(
            "purge: %lld rows in %.1f s (%.0f rows/s), batches of %d, file %.1f MB -> "
            "%.1f MB, reports: %lld\n",
            static_cast<long long>(gone), seconds, double(gone) / seconds, Retention::kBatchRows,
            double(before) / 1e6, double(QFileInfo(path).size()) / 1e6,
            static_cast<long long>(reporter.entries.size()));
        QCoreApplication::quit();
    });
    newEvents.start();
    QTimer::singleShot(3000, [&] {
        gaps = &purging;
        purgeTime.start();
        retention.start(Retention::Limits{30, 0});
    });
    return app.exec();
}
