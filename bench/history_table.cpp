// The history table over a large file database: how long the window takes to show a range of a
// million rows, to read each further page as the user scrolls, and to show the last row, and
// the memory it holds then; sorted by time, or by another column.
//
//   history_table [--rows N] [--keep FILE] [--sort time|source|type|data]
//   (QT_QPA_PLATFORM=offscreen without a display)
#include <sys/resource.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <limits>

#include "store/Store.h"
#include "ui/HistoryModel.h"

namespace {

double peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("rows"), QStringLiteral("rows to store"),
                        QStringLiteral("N"), QStringLiteral("1000000")},
                       {QStringLiteral("keep"), QStringLiteral("database file to make or reuse"),
                        QStringLiteral("FILE")},
                       {QStringLiteral("sort"), QStringLiteral("column to sort by"),
                        QStringLiteral("COLUMN"), QStringLiteral("time")}});
    parser.process(app);
    const qint64 rows = parser.value(QStringLiteral("rows")).toLongLong();
    const QStringList columns{QStringLiteral("time"), QStringLiteral("source"),
                              QStringLiteral("type"), QStringLiteral("data")};
    const int sortColumn = int(columns.indexOf(parser.value(QStringLiteral("sort"))));
    if (sortColumn < 0) {
        std::fprintf(stderr, "history_table: --sort takes one of %s\n",
                     qPrintable(columns.join(QStringLiteral(", "))));
        return 2;
    }
    QTemporaryDir dir;
    const QString path = parser.isSet(QStringLiteral("keep"))
                             ? parser.value(QStringLiteral("keep"))
                             : dir.filePath(QStringLiteral("history.mdb"));
    const DatabaseSettings settings{DatabaseKind::File, {}, path, QStringLiteral("tblQuilljot")};

    {
        Store writer;
        const Store::OpenProblems opened = writer.open(settings);
        if (opened.open || opened.create) {
            std::fprintf(stderr, "history_table: cannot make %s\n", qPrintable(path));
            return 1;
        }
        const Result<qint64> have = writer.countEvents(EventQuery{});
        QElapsedTimer filling;
        filling.start();
        const QDateTime start(QDate(2026, 11, 29), QTime(0, 0));
        for (qint64 i = have ? have.value() : 0; i < rows; ++i) {
            if (i % 2000 == 0) {
                (void)writer.beginBatch();
            }
            // Spread over six days, a row every half second, from 40 sources.
            (void)writer.insert(
                {start.addMSecs(i * 500).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 QStringLiteral("hs.controller.room%1").arg(i * 7 % 40), QStringLiteral("Log"),
                 QStringLiteral("Front door opened, event %1").arg(i)});
            if (i % 2000 == 1999 || i == rows - 1) {
                (void)writer.endBatch();
            }
        }
        std::printf("rows in the table: %lld (filled in %.1f s)\n", rows,
                    double(filling.elapsed()) / 1000.0);
    }

    QTableView view;
    HistoryModel model;
    view.setModel(&model);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.resize(1000, 520);
    view.show();

    EventQuery query;
    query.from = QStringLiteral("2026-11-29 00:00:00");
    query.to = QStringLiteral("2026-12-06 00:00:00");
    query.sortBy = EventQuery::Column(sortColumn);
    QElapsedTimer t;
    t.start();
    if (const Status run = model.run(settings, query); !run) {
        std::fprintf(stderr, "history_table: %s\n", qPrintable(run.problem().description));
        return 1;
    }
    QApplication::processEvents();
    const double shown = double(t.nsecsElapsed()) / 1e6;

    // Scrolling to the end: the view asks for the next page each time its bar reaches the
    // bottom; it is drawn after every tenth page. Sorted by a text, each page sorts the range
    // anew: twenty pages tell the cost.
    double slowestPage = 0;
    int pages = 0;
    const int pageLimit = sortColumn == 0 ? std::numeric_limits<int>::max() : 20;
    t.restart();
    while (model.canFetchMore({}) && pages < pageLimit) {
        QElapsedTimer page;
        page.start();
        model.fetchMore({});
        slowestPage = std::max(slowestPage, double(page.nsecsElapsed()) / 1e6);
        if (++pages % 10 == 0) {
            view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
            QApplication::processEvents();
        }
    }
    const double all = double(t.elapsed()) / 1000.0;
    std::printf("sorted by %s, descending\n", qPrintable(columns[sortColumn]));
    std::printf("range of %lld rows shown (count and first page) in %.1f ms\n",
                qlonglong(model.total()), shown);
    std::printf("%d further pages of %d rows%s: %.1f s, slowest page %.1f ms\n", pages,
                model.pageRows(), model.canFetchMore({}) ? "" : " to the last row", all,
                slowestPage);
    std::printf("rows held: %d, peak RSS %.0f MB\n", model.rowCount(), peakRssMb());
    return model.rowCount() == model.total() || pages == pageLimit ? 0 : 1;
}
