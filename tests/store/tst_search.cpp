#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include "PostgresServer.h"
#include "TestEngines.h"
#include "store/ActivityQuery.h"
#include "store/Store.h"

// The data filter through the engines' text indexes: every search is compared with what a plain
// scan of the rows written finds, while the index is behind, catching up, purged or dropped.
namespace {

QString freshTable() {
    static int n = 0;
    return QStringLiteral("tblSearchTest") +
           QString::number(QDateTime::currentMSecsSinceEpoch() % 100000) + u'_' +
           QString::number(++n);
}

// Texts with what a search can trip on: words inside words, letter case, accents, quotes, the
// LIKE wildcards and the escape, and short ones.
const QStringList kTexts = {
    QStringLiteral("garage door opened"),
    QStringLiteral("GARAGE Door closed"),
    QStringLiteral("the garagedoor motor"),
    QStringLiteral("sprinkler fault zone 3"),
    QStringLiteral("Küche \"1\" on"),
    QStringLiteral("KÜCHE 'east' off"),
    QStringLiteral("100% done_now"),
    QStringLiteral("1000 done now"),
    QStringLiteral("back\\slash [set] ab"),
    QStringLiteral("日本語のテキスト"),
    QStringLiteral("x"),
    QString(),
};

const QStringList kTerms = {QStringLiteral("garage"),
                            QStringLiteral("AGE DO"),
                            QStringLiteral("door"),
                            QStringLiteral("küche"),
                            QStringLiteral("KÜCHE"),
                            QStringLiteral("\"1\""),
                            QStringLiteral("'east'"),
                            QStringLiteral("0%"),
                            QStringLiteral("e_n"),
                            QStringLiteral("%"),
                            QStringLiteral("_"),
                            QStringLiteral("\\s"),
                            QStringLiteral("[set]"),
                            QStringLiteral("本語"),
                            QStringLiteral("本語の"),
                            QStringLiteral("ab"),
                            QStringLiteral("x"),
                            QStringLiteral("zone 3"),
                            QStringLiteral("nothing here"),
                            QStringLiteral("sprinkler")};

// The i-th row's data: the texts in turn, some with a number that makes them unique.
QString textOf(int i) {
    const QString& text = kTexts[i % kTexts.size()];
    return i % 3 == 0 && !text.isEmpty() ? text + u' ' + QString::number(i) : text;
}

LogEvent eventOf(int i) {
    return LogEvent{QDateTime(QDate(2026, 1, 1), QTime(0, 0))
                        .addSecs(qint64(i) * 61)
                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                    QStringLiteral("src.") + QString::number(i % 5), QStringLiteral("t"),
                    textOf(i)};
}

}  // namespace

class SearchTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    PostgresServer m_pg;

    void addEngineColumn() {
        QTest::addColumn<int>("engine");
        const auto list = testEngines(m_dir.path(), QString(), m_pg);
        for (int i = 0; i < list.size(); ++i) {
            if (list[i].settings.kind != DatabaseKind::SqlServer) {
                QTest::newRow(qPrintable(list[i].name)) << i;
            }
        }
    }
    TestEngine engine(int i) {
        QDir().mkpath(m_dir.path() + QStringLiteral("/Data"));
        return testEngines(m_dir.path(), freshTable(), m_pg)[i];
    }

    // What a plain scan finds: the rows whose data, as the engine stores it (its quote rule),
    // contains the term, in the letter case the engine's LIKE ignores (ASCII letters in the file
    // database, all in PostgreSQL).
    static QList<qint64> expected(const TestEngine& e, const QMap<qint64, QString>& rows,
                                  const QString& term) {
        const bool file = e.settings.kind == DatabaseKind::File;
        const auto fold = [&](QString text) {
            if (file) {
                for (QChar& c : text) {
                    if (c.unicode() < 128) {
                        c = c.toLower();
                    }
                }
                return text;
            }
            return text.toLower();
        };
        const QString wanted = fold(term);
        QList<qint64> out;
        for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
            if (!it.value().isEmpty() &&
                fold(QString(it.value()).replace(e.storedQuote[0], e.storedQuote[1]))
                    .contains(wanted)) {
                out.append(it.key());
            }
        }
        return out;
    }

    // Every term through the history (in pages of `page`), the count and the chart, each
    // compared with the plain scan.
    static void compareAll(Store& reader, const TestEngine& e, const QMap<qint64, QString>& rows,
                           int page) {
        for (const QString& term : kTerms) {
            const QList<qint64> wanted = expected(e, rows, term);
            EventQuery q;
            q.data = term;
            q.limit = page;
            QList<qint64> found;
            for (;;) {
                qsizetype before = found.size();
                QVERIFY(reader.readEvents(q, [&](const StoredEvent& r) { found.append(r.id); }));
                if (found.size() == before) {
                    break;
                }
                q.after = found.last();
            }
            std::sort(found.begin(), found.end());
            QVERIFY2(
                found == wanted,
                qPrintable(term + QStringLiteral(": ") + QString::number(found.size()) +
                           QStringLiteral(" found, wanted ") + QString::number(wanted.size())));
            EventQuery counted;
            counted.data = term;
            const Result<qint64> n = reader.countEvents(counted);
            QVERIFY(n);
            QCOMPARE(n.value(), wanted.size());
            ActivityQuery chart;
            chart.from = QStringLiteral("2026-01-01 00:00:00");
            chart.to = QStringLiteral("2026-03-01 00:00:00");
            chart.bucket = ActivityQuery::Bucket::Day;
            chart.data = term;
            const Result<ActivityChart> drawn = reader.activity(chart);
            QVERIFY(drawn);
            qint64 total = 0;
            for (const ActivityBucket& b : drawn.value().buckets) {
                total += b.count;
            }
            QCOMPARE(total, wanted.size());
        }
    }

    static void write(Store& store, QMap<qint64, QString>& rows, int from, int to) {
        QList<LogEvent> events;
        for (int i = from; i < to; ++i) {
            events.append(eventOf(i));
        }
        QVERIFY(store.beginBatch());
        QCOMPARE(store.insertRun(events).written, events.size());
        QVERIFY(store.endBatch());
        const Result<qint64> newest = store.newestKey();
        QVERIFY(newest);
        for (int i = from; i < to; ++i) {
            rows.insert(newest.value() - (to - 1 - i), textOf(i));
        }
    }

private slots:
    void initTestCase() {
        if (!m_pg.start()) {
            if (PostgresServer::required()) {
                QFAIL(qPrintable(m_pg.missing));
            }
            qInfo("PostgreSQL cases skipped, %s", qPrintable(m_pg.missing));
        }
    }

    // Rows indexed, rows after the index's key, both in pages: each found once, none missed.
    void searchesFindWhatAPlainScanFinds_data() { addEngineColumn(); }
    void searchesFindWhatAPlainScanFinds() {
        QFETCH(int, engine);
        const TestEngine e = this->engine(engine);
        Store store;
        QVERIFY(!store.open(e.settings).open);
        QMap<qint64, QString> rows;
        write(store, rows, 0, 300);
        while (true) {
            const Result<bool> more = store.rollUpSearch();
            QVERIFY(more);
            if (!more.value()) {
                break;
            }
        }
        write(store, rows, 300, 420);
        Store reader;
        QVERIFY(reader.openForReading(e.settings));
        compareAll(reader, e, rows, 7);
    }

    // A table of rows that had no index is indexed in steps after the upgrade while events are
    // written; searches stay exact at every step, and a purge takes its rows out of the index.
    void anIndexBuiltInStepsStaysExact_data() { addEngineColumn(); }
    void anIndexBuiltInStepsStaysExact() {
        QFETCH(int, engine);
        TestEngine e = this->engine(engine);
        e.settings.searchIndex = false;
        QMap<qint64, QString> rows;
        {
            Store store;
            QVERIFY(!store.open(e.settings).open);
            // Enough rows of one word that a page walks the time index.
            for (int from = 0; from < 25000; from += 5000) {
                write(store, rows, from, from + 5000);
            }
        }
        e.settings.searchIndex = true;
        Store store;
        QVERIFY(!store.open(e.settings).open);
        Store reader;
        QVERIFY(reader.openForReading(e.settings));
        int steps = 0;
        for (bool more = true; more; ++steps) {
            const Result<bool> stepped = store.rollUpSearch();
            QVERIFY(stepped);
            more = stepped.value();
            write(store, rows, 25000 + steps * 10, 25000 + steps * 10 + 10);
            if (steps % 2 == 0) {
                compareAll(reader, e, rows, 500);
            }
        }
        compareAll(reader, e, rows, 500);
        // The oldest quarter purged.
        const QString before = eventOf(6000).time;
        for (int gone = -1; gone != 0;) {
            const Result<int> deleted =
                store.deleteRowsBefore(StoreProvider::Table::Events, before, 1000);
            QVERIFY(deleted);
            gone = deleted.value();
        }
        rows.removeIf([&](auto row) { return row.key() <= 6000; });
        compareAll(reader, e, rows, 500);
        QVERIFY(store.rollUpSearch());
        if (e.settings.kind == DatabaseKind::File) {
            // The index itself holds no row the table lost.
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(e.settings.database);
            QVERIFY(db.open());
            {
                QSqlQuery q(db);
                QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM %1_Search WHERE %1_Search "
                                              "MATCH '\"gar\"'")
                                   .arg(e.settings.table)));
                QVERIFY(q.next());
                const qsizetype indexed = std::count_if(rows.cbegin(), rows.cend(), [](auto& d) {
                    return d.contains(QStringLiteral("gar"), Qt::CaseInsensitive);
                });
                QCOMPARE(q.value(0).toLongLong(), indexed);
            }
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("check"));
        }
        // Turned off, the index goes and searches read the rows.
        e.settings.searchIndex = false;
        QVERIFY(!store.open(e.settings).open);
        compareAll(reader, e, rows, 500);
    }
};

QTEST_GUILESS_MAIN(SearchTest)
#include "tst_search.moc"
