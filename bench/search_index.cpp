// The data filter over a large database, with the text index and without, in one run: `measure`
// opens the database as the logger does with SearchIndex off and times the searches (the rows
// read), then with it on, builds the index in the logger's steps (timed: the writer's cost per
// event) and times the same searches again, the best of three each.
//
//   search_index measure file PATH
//   search_index measure postgresql SQLSOURCE DATABASE
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "BenchDatabase.h"
#include "store/Store.h"

namespace {

struct Timed {
    double pageMs = 1e12;
    double countMs = 1e12;
    qint64 rows = 0;
};

// The first page of 100 of the newest rows holding `term`, and their count, over the whole year.
Timed search(Store& store, const QString& term, int runs) {
    Timed t;
    for (int i = 0; i < runs; ++i) {
        EventQuery page;
        page.data = term;
        page.limit = 100;
        QElapsedTimer clock;
        clock.start();
        (void)store.readEvents(page, [](const StoredEvent&) {});
        t.pageMs = std::min(t.pageMs, double(clock.nsecsElapsed()) / 1e6);
        EventQuery all;
        all.data = term;
        clock.restart();
        const Result<qint64> n = store.countEvents(all);
        t.countMs = std::min(t.countMs, double(clock.nsecsElapsed()) / 1e6);
        t.rows = n ? n.value() : -1;
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr,
                     "usage: search_index measure file PATH | postgresql SQLSOURCE DATABASE\n");
        return 2;
    }
    DatabaseSettings settings = benchDatabase(args);
    const std::pair<const char*, QString> terms[] = {
        {"a rare word (10 rows in 10 million)", QStringLiteral("garage door")},
        {"a word in 1 % of the rows", QStringLiteral("sprinkler")},
    };
    for (const bool indexed : {false, true}) {
        settings.searchIndex = indexed;
        Store store;
        const Store::OpenProblems opened = store.open(settings);
        if (opened.create || opened.open) {
            std::fprintf(stderr, "open failed: %s\n",
                         qPrintable((opened.create ? opened.create : opened.open)->description));
            return 1;
        }
        for (Result<bool> more = true; more && more.value();) {
            more = store.rollUpActivity();
        }
        if (indexed) {
            QElapsedTimer clock;
            clock.start();
            qint64 steps = 0;
            for (Result<bool> more = true; more && more.value(); ++steps) {
                more = store.rollUpSearch();
                if (!more) {
                    std::fprintf(stderr, "index failed: %s\n",
                                 qPrintable(more.problem().description));
                    return 1;
                }
            }
            const Result<qint64> rows = store.newestKey();
            const double s = double(clock.elapsed()) / 1000;
            std::printf("index built in %lld steps of %lld keys: %.0f s (%.1f µs an event)\n",
                        static_cast<long long>(steps),
                        static_cast<long long>(StoreProvider::kSearchStepKeys), s,
                        rows ? s * 1e6 / double(rows.value()) : 0.0);
        }
        Store reader;
        if (!reader.openForReading(settings)) {
            return 1;
        }
        for (const auto& [name, term] : terms) {
            const Timed t = search(reader, term, indexed ? 3 : 1);
            std::printf("%s, %s: first page %.1f ms, count %.1f ms (%lld rows)\n",
                        indexed ? "index" : "rows read", name, t.pageMs, t.countMs,
                        static_cast<long long>(t.rows));
        }
    }
    return 0;
}
