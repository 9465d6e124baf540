// The activity chart over a large database: `prepare` makes the tables as the logger does,
// `measure` opens the database as the logger does (which adds the rows written meanwhile to the
// activity summary, timed) and times charts of 7 days, of a year and of the last 24 hours by
// minute, the best of five each.
//
//   activity_chart prepare|measure file PATH
//   activity_chart prepare|measure postgresql SQLSOURCE DATABASE
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "store/Store.h"

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
    DatabaseSettings settings;
    settings.table = QStringLiteral("tblQuilljot");
    if (args[2] == u"postgresql") {
        settings.kind = DatabaseKind::PostgreSql;
        settings.sqlSource = args.value(3);
        settings.database = args.value(4);
    } else {
        settings.database = args[3];
    }
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
    std::printf("summary brought up to date at open: %.1f s\n", double(clock.elapsed()) / 1000);
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
    ActivityQuery weekData = week;
    weekData.data = QStringLiteral("light on");
    const std::pair<const char*, const ActivityQuery*> cases[] = {
        {"7 days by hour", &week},
        {"7 days by hour, split by source (top 5)", &weekSplit},
        {"a year by day", &year},
        {"a year by day, split by source (top 5)", &yearSplit},
        {"7 days by hour, data filter (reads the rows)", &weekData},
        {"the last 24 hours by minute (the status chart; reads the rows)", &lastDay},
    };
    for (const auto& [name, query] : cases) {
        qint64 total = 0;
        const double ms = bestOf(reader, *query, total);
        std::printf("chart of %s: %.1f ms (%lld events)\n", name, ms,
                    static_cast<long long>(total));
    }
    return 0;
}
