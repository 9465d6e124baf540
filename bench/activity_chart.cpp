// The activity chart over a large database: `prepare` makes the tables as the logger does,
// `measure` opens the database as the logger does and adds the rows written meanwhile to the
// activity summary (timed) and times charts of 7 days, of a year, and of the last 6 and 24 hours
// by minute, the best of five each; then the Status chart as the logger answers it, from the
// counts it keeps in memory, and what counting an event there costs.
//
//   activity_chart prepare|measure file PATH
//   activity_chart prepare|measure postgresql SQLSOURCE DATABASE
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <tuple>

#include "BenchDatabase.h"
#include "status/RecentActivity.h"
#include "store/Store.h"
#include "support/DateText.h"

namespace {

double bestOf(Store& store, const ActivityQuery& q, qint64& total) {
    double best = 1e12;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        const Result<ActivityChart> chart = store.activity(q);
        const double took = double(clock.nsecsElapsed()) / 1e6;
        if (!chart) {
            std::fprintf(stderr, "chart failed: %s\n", qPrintable(chart.problem().description));
            return -1;
        }
        total = 0;
        for (const ActivityBucket& b : chart.value().buckets) {
            total += b.count;
        }
        best = std::min(best, took);
    }
    return best;
}

QString shifted(const QString& time, int days) {
    return QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .addDays(days)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr,
                     "usage: activity_chart prepare|measure file PATH | postgresql "
                     "SQLSOURCE DATABASE\n");
        return 2;
    }
    const DatabaseSettings settings = benchDatabase(args);
    Store store;
    QElapsedTimer clock;
    clock.start();
    const Store::OpenProblems opened = store.open(settings);
    if (opened.create || opened.open) {
        std::fprintf(stderr, "open failed: %s\n",
                     qPrintable((opened.create ? opened.create : opened.open)->description));
        return 1;
    }
    if (args[1] == u"prepare") {
        return 0;
    }
    // The logger takes the rest a step at a time between its passes; here at once.
    for (Result<bool> more = true; more && more.value();) {
        more = store.rollUpActivity();
        if (!more) {
            std::fprintf(stderr, "roll-up failed: %s\n", qPrintable(more.problem().description));
            return 1;
        }
    }
    std::printf("summary brought up to date (at open, then in steps): %.1f s\n",
                double(clock.elapsed()) / 1000);
    EventQuery newest;
    newest.limit = 1;
    QString last;
    (void)store.readEvents(newest, [&](const StoredEvent& row) { last = row.event.time; });
    Store reader;
    if (!reader.openForReading(settings)) {
        return 1;
    }
    ActivityQuery week;
    week.to = ActivityBuckets::startOf(ActivityQuery::Bucket::Hour, last);
    week.from = shifted(week.to, -7);
    week.bucket = ActivityQuery::bucketFor(week.from, week.to);
    ActivityQuery year = week;
    year.from = shifted(week.to, -365);
    year.bucket = ActivityQuery::Bucket::Day;
    ActivityQuery weekSplit = week;
    weekSplit.split = ActivityQuery::Split::Source;
    ActivityQuery yearSplit = year;
    yearSplit.split = ActivityQuery::Split::Source;
    ActivityQuery lastDay = week;
    lastDay.from = shifted(week.to, -1);
    lastDay.bucket = ActivityQuery::Bucket::Minute;
    ActivityQuery sixHours = lastDay;
    sixHours.from = QDateTime::fromString(week.to, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                        .addSecs(-6 * 3600)
                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    ActivityQuery weekData = week;
    weekData.data = QStringLiteral("light on");
    const std::pair<const char*, const ActivityQuery*> cases[] = {
        {"7 days by hour", &week},
        {"7 days by hour, split by source (top 5)", &weekSplit},
        {"a year by day", &year},
        {"a year by day, split by source (top 5)", &yearSplit},
        {"7 days by hour, data filter (reads the rows)", &weekData},
        {"6 hours by minute (the longest minute chart of the history; reads the rows)", &sixHours},
        {"the last 24 hours by minute (reads the rows)", &lastDay},
    };
    for (const auto& [name, query] : cases) {
        qint64 total = 0;
        const double ms = bestOf(reader, *query, total);
        std::printf("chart of %s: %.1f ms (%lld events)\n", name, ms,
                    static_cast<long long>(total));
    }

    const QDateTime now = QDateTime::fromString(week.to, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    RecentActivity recent([now] { return now; });
    const quint64 recount = recent.beginRecount();
    ActivityQuery recountQuery = lastDay;
    std::tie(recountQuery.from, recountQuery.to) = recent.recountRange();
    clock.restart();
    const Result<ActivityChart> recounted = reader.activity(recountQuery);
    if (!recounted) {
        return 1;
    }
    recent.finishRecount(recount, recounted.value());
    std::printf("counts of the last day read from the database (the logger's recount): %.1f ms\n",
                double(clock.nsecsElapsed()) / 1e6);
    ActivityQuery status = lastDay;
    status.from = shifted(week.to, -1).left(14) + QStringLiteral("01:00");
    status.to = week.to.left(14) + QStringLiteral("01:00");
    double best = 1e12;
    qint64 total = 0;
    for (int i = 0; i < 5; ++i) {
        clock.restart();
        const Result<ActivityChart> chart = recent.chart(status).value();
        best = std::min(best, double(clock.nsecsElapsed()) / 1e3);
        total = 0;
        for (const ActivityBucket& b : chart.value().buckets) {
            total += b.count;
        }
    }
    std::printf(
        "chart of the last 24 hours by minute from the counts in memory (the status "
        "chart): %.0f µs (%lld events)\n",
        best, static_cast<long long>(total));
    // A day of 1,000,000 events, handed over in passes of 2000 as the recorder does.
    QList<QList<LogEvent>> passes;
    for (int i = 0; i < 1'000'000; ++i) {
        if (i % 2000 == 0) {
            passes.append(QList<LogEvent>());
        }
        passes.last().append(LogEvent{DateText::isoText(now.addMSecs(-86'400'000 + i * 86.4)),
                                      QStringLiteral("vendor.device.host1:room1"),
                                      QStringLiteral("Log"), QString()});
    }
    clock.restart();
    for (const QList<LogEvent>& pass : passes) {
        recent.add(pass);
    }
    std::printf("counting 1,000,000 events of a day in memory: %.0f ns an event\n",
                double(clock.nsecsElapsed()) / 1e6);
    return 0;
}
