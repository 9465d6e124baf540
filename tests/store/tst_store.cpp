#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <barrier>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

#include "CuttingProxy.h"
#include "FullDiskVfs.h"
#include "ServerBackends.h"
#include "TestEngines.h"
#include "TestFiles.h"
#include "store/ActivityQuery.h"
#include "store/EventExport.h"
#include "store/ServerSource.h"
#include "store/SqlServerProvider.h"
#include "store/Store.h"

namespace {

using Engine = TestEngine;

// Each case gets a table of its own, so that server engines start from nothing too.
QString freshTable() {
    static int n = 0;
    return QStringLiteral("tblStoreTest") +
           QString::number(QDateTime::currentMSecsSinceEpoch() % 100000) + u'_' +
           QString::number(++n);
}

// A store that only reads the database the writing store names, as the windows, the web page
// and the export do: a connection that never made or checked the table.
std::unique_ptr<Store> reader(const Store& writer) {
    auto store = std::make_unique<Store>();
    const Status opened = store->openForReading(*writer.settings());
    if (!opened) {
        qWarning() << opened.problem().description;
    }
    return store;
}

QList<StoredEvent> history(const Store& writer, EventQuery query = {}) {
    if (query.from.isEmpty()) {
        query.order = EventQuery::Order::Ascending;
    }
    QList<StoredEvent> rows;
    const Status read =
        reader(writer)->readEvents(query, [&](const StoredEvent& r) { rows.append(r); });
    if (!read) {
        qWarning() << read.problem().description;
    }
    return rows;
}

// The data of the rows `history` reads, in its order.
QStringList dataOf(const Store& writer, const EventQuery& query = {}) {
    QStringList out;
    for (const StoredEvent& r : history(writer, query)) {
        out.append(r.event.data);
    }
    return out;
}

// The value of `found` as `name`, or the case skipped when there is no SQL Server to test against.
#define SQL_SERVER_OR_SKIP(name, found)     \
    auto name = (found);                    \
    if (!name) {                            \
        QSKIP("needs QUILLJOT_TEST_MSSQL"); \
    }

ActivityQuery chartQuery(const char* from, const char* to, ActivityQuery::Bucket bucket) {
    ActivityQuery q;
    q.from = QString::fromLatin1(from);
    q.to = QString::fromLatin1(to);
    q.bucket = bucket;
    return q;
}

LogEvent logEvent(const char* time, const QString& source, const QString& type,
                  const QString& data) {
    return LogEvent{QString::fromLatin1(time), source, type, data};
}

}  // namespace

class StoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    PostgresServer m_pg;

    // A row for each engine there is to test; for the server engines alone where `servers`.
    void addEngineColumn(bool servers = false) {
        QTest::addColumn<int>("engine");
        const auto list = testEngines(m_dir.path(), QString(), m_pg);
        for (int i = 0; i < list.size(); ++i) {
            if (!servers || list[i].settings.kind != DatabaseKind::File) {
                QTest::newRow(qPrintable(list[i].name)) << i;
            }
        }
    }
    // The SQL Server engine, when one is there to test against.
    std::optional<Engine> serverEngine(const QString& table) {
        for (const Engine& e : testEngines(m_dir.path(), table, m_pg)) {
            if (e.settings.kind == DatabaseKind::SqlServer) {
                return e;
            }
        }
        return std::nullopt;
    }
    // The SQL Server engine reached through a proxy that can cut its connections, when there is
    // a server to test against.
    struct ProxiedServer {
        Engine engine;
        QString serverPort;
        std::unique_ptr<CuttingProxy> proxy;
    };
    std::optional<ProxiedServer> serverThroughProxy() {
        auto e = serverEngine(freshTable());
        if (!e) {
            return std::nullopt;
        }
        const QString port = ServerSource::parse(e->settings.sqlSource).port;
        auto proxy = std::make_unique<CuttingProxy>(port.toUShort());
        e->settings.sqlSource.replace(u',' + port, u',' + QString::number(proxy->port()));
        return ProxiedServer{*e, port, std::move(proxy)};
    }
    // A file database of its own in the Data folder.
    DatabaseSettings fileDatabase(const char* name, const QString& table = QStringLiteral("t")) {
        QDir().mkpath(m_dir.path() + QStringLiteral("/Data"));
        return {DatabaseKind::File,
                {},
                m_dir.path() + QStringLiteral("/Data/") + QLatin1String(name),
                table};
    }
    Engine engine(int i, const QString& table) {
        QDir().mkpath(m_dir.path() +
                      QStringLiteral("/Data"));  // the logger makes the folder, not the store
        return testEngines(m_dir.path(), table, m_pg)[i];
    }

    // A superuser's connection to the store's PostgreSQL database, on the socket.
    QSqlDatabase pgAdmin() {
        auto db = QSqlDatabase::database(QStringLiteral("pgadmin"), false);
        if (!db.isValid()) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("pgadmin"));
            db.setHostName(m_pg.socketFolder);
            db.setPort(m_pg.port.toInt());
            db.setDatabaseName(QStringLiteral("quilljot_store"));
        }
        db.open();
        return db;
    }

    // Runs `use` on a connection of the test's own to the engine's database, as another program
    // would connect; not at all when it cannot connect.
    void onOwnConnection(const Engine& e, const std::function<void(QSqlQuery&)>& use) {
        if (e.settings.kind == DatabaseKind::PostgreSql) {
            QSqlQuery q(pgAdmin());
            q.setForwardOnly(true);
            use(q);
            return;
        }
        {
            const bool file = e.settings.kind == DatabaseKind::File;
            auto db = QSqlDatabase::addDatabase(
                file ? QStringLiteral("QSQLITE") : QStringLiteral("QODBC"), QStringLiteral("raw"));
            db.setDatabaseName(file ? e.settings.database
                                    : SqlServerProvider::odbcText(
                                          ServerSource::parse(e.settings.sqlSource),
                                          e.settings.database, SqlServerProvider::driverName()));
            if (db.open()) {
                QSqlQuery q(db);
                q.setForwardOnly(true);
                use(q);
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    }

    // Statements on the engine's database, each on its own, up to the first that fails.
    bool rawExec(const Engine& e, const QStringList& statements) {
        qsizetype done = 0;
        onOwnConnection(e, [&](QSqlQuery& q) {
            while (done < statements.size() && q.exec(statements[done])) {
                ++done;
            }
            if (done < statements.size()) {
                qWarning() << "failed:" << statements[done] << q.lastError().text();
            }
        });
        return done == statements.size();
    }

    // The rows a query on the engine's database returns, each column as text.
    QList<QStringList> rawRows(const Engine& e, const QString& sql) {
        QList<QStringList> out;
        onOwnConnection(e, [&](QSqlQuery& q) {
            if (!q.exec(sql)) {
                qWarning() << "failed:" << sql << q.lastError().text();
            }
            while (q.next()) {
                QStringList row;
                for (int c = 0; c < q.record().count(); ++c) {
                    row.append(q.value(c).toString());
                }
                out.append(row);
            }
        });
        return out;
    }

    // What the engine's database holds of a case's tables: their columns and indexes, and the
    // layout recorded.
    QList<QStringList> layoutOf(const Engine& e) {
        const DatabaseSettings& s = e.settings;
        QString sql;
        switch (s.kind) {
            case DatabaseKind::File:
                sql = QStringLiteral(
                    "SELECT type, name, sql FROM sqlite_master UNION ALL SELECT 'version', "
                    "user_version, '' FROM pragma_user_version ORDER BY 1, 2");
                if (rawRows(e, QStringLiteral("SELECT name FROM sqlite_master WHERE name = "
                                              "'tblQuilljotLayout'"))
                        .isEmpty()) {
                    return rawRows(e, sql);
                }
                sql.replace(QStringLiteral(" ORDER BY"),
                            QStringLiteral(" UNION ALL SELECT 'row', TableName, Version FROM "
                                           "tblQuilljotLayout ORDER BY"));
                break;
            case DatabaseKind::PostgreSql:
                sql =
                    QStringLiteral(
                        "SELECT table_name, column_name, data_type FROM information_schema.columns "
                        "WHERE table_name LIKE '%1%' UNION ALL SELECT tablename, indexname, "
                        "indexdef FROM pg_indexes WHERE tablename LIKE '%1%' UNION ALL SELECT "
                        "'row', TableName, Version::text FROM tblQuilljotLayout WHERE TableName "
                        "= '%1' ORDER BY 1, 2")
                        .arg(s.table.toLower());
                break;
            case DatabaseKind::SqlServer:
                sql = QStringLiteral(
                          "SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE FROM "
                          "INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME LIKE '%1%' UNION ALL "
                          "SELECT OBJECT_NAME(object_id), name, type_desc FROM sys.indexes WHERE "
                          "OBJECT_NAME(object_id) LIKE '%1%' UNION ALL SELECT 'row', TableName, "
                          "CAST(Version AS varchar(9)) FROM tblQuilljotLayout WHERE TableName = "
                          "'%1' ORDER BY 1, 2")
                          .arg(s.table);
                break;
        }
        return rawRows(e, sql);
    }

    // The activity summary's counts per hour or per day, and the same counted from the rows
    // with GROUP BY.
    std::pair<QList<QStringList>, QList<QStringList>> summaryAndRows(const Engine& e, bool days) {
        const DatabaseSettings& s = e.settings;
        QString summary =
            s.table + (days ? QStringLiteral("_ActivityDays") : QStringLiteral("_Activity"));
        const QString start = days ? QStringLiteral("Day") : QStringLiteral("Hour");
        QString hour = days ? QStringLiteral("substr(SampleDate, 1, 10) || ' 00:00:00'")
                            : QStringLiteral("substr(SampleDate, 1, 13) || ':00:00'");
        if (s.kind == DatabaseKind::PostgreSql) {
            summary = summary.toLower();
            hour = QStringLiteral("to_char(date_trunc('%1', SampleDate), 'YYYY-MM-DD HH24:MI:SS')")
                       .arg(days ? QStringLiteral("day") : QStringLiteral("hour"));
        } else if (s.kind == DatabaseKind::SqlServer) {
            hour = days ? QStringLiteral("CONVERT(varchar(10), SampleDate, 120) + ' 00:00:00'")
                        : QStringLiteral("CONVERT(varchar(13), SampleDate, 120) + ':00:00'");
        }
        const QString order = QStringLiteral(" ORDER BY 1, 2, 3");
        return {
            rawRows(e, QStringLiteral("SELECT ") + start +
                           QStringLiteral(", Source, Category, Events FROM ") + summary +
                           QStringLiteral(" WHERE ") + start + QStringLiteral(" <> ''") + order),
            rawRows(e, QStringLiteral("SELECT ") + hour +
                           QStringLiteral(", Source, Category, COUNT(*) FROM ") + s.table +
                           QStringLiteral(" GROUP BY ") + hour +
                           QStringLiteral(", Source, Category") + order)};
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
    // A file that cannot be made says so once, with the system's reason.
    void aDatabaseFileThatCannotBeMadeSaysWhy() {
        QTemporaryDir dir;
        DatabaseSettings settings;
        settings.database = dir.path() + QStringLiteral("/no/such/folder/x.db");
        settings.table = QStringLiteral("tblQuilljot");
        Store store;
        const Store::OpenProblems p = store.open(settings);
        QVERIFY(p.create);
        QVERIFY2(p.create->description.endsWith(
                     QStringLiteral(": unable to open database file (No such file or directory)")),
                 qPrintable(p.create->description));
    }

    void textsAreStoredAsBoundValuesWithTheEnginesQuoteRule_data() { addEngineColumn(); }
    void textsAreStoredAsBoundValuesWithTheEnginesQuoteRule() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        Store store;
        store.open(e.settings);
        // The first (non-Latin, outside the BMP, on an early date) is also found by its texts.
        const QStringList hostile = {
            QStringLiteral("日本語 ✓ 😀 Ωλ"),
            QStringLiteral("x\"; DROP TABLE t; --"),
            QStringLiteral("'); DELETE FROM t; --"),
            QStringLiteral("#2026-01-01# \" || (SELECT 1) || \"?"),
            QStringLiteral("line one\r\nline two\ttab %_ \\"),
            QStringLiteral("\\N\n\\.\n\\\\t\\"),  // markers and escapes of bulk-load text formats
            QString(70000, u'L'),
        };
        QVERIFY(store.beginBatch());
        for (const QString& h : hostile) {
            QVERIFY(store.insert(
                logEvent(h == hostile[0] ? "1700-02-03 04:05:06" : "2026-12-04 23:13:09",
                         QStringLiteral("a.b.") + h.left(200), h.left(200), h)));
        }
        QVERIFY(store.endBatch());
        const auto rows = history(store);
        QCOMPARE(rows.size(), hostile.size());
        QCOMPARE(rows[0].event.time, QStringLiteral("1700-02-03 04:05:06"));
        EventQuery q;
        q.from = QStringLiteral("1600-01-01 00:00:00");
        q.source = QStringLiteral("日本");
        q.type = QStringLiteral("✓ 😀");
        q.data = QStringLiteral("Ωλ");
        QCOMPARE(history(store, q).size(), 1);
        for (qsizetype i = 0; i < hostile.size(); ++i) {
            const QString stored = QString(hostile[i]).replace(e.storedQuote[0], e.storedQuote[1]);
            QCOMPARE(rows[i].event.type, stored.left(200));
            QCOMPARE(rows[i].event.data, stored);
        }
    }

    void historyFiltersAndOrder_data() { addEngineColumn(); }
    void historyFiltersAndOrder() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        Store store;
        store.open(e.settings);
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", QStringLiteral("hs.den"),
                                      QStringLiteral("Log"), QStringLiteral("Door open"))));
        QVERIFY(store.insert(logEvent("2026-11-01 10:00:00", QStringLiteral("hs.den"),
                                      QStringLiteral("Log"), QStringLiteral("too old"))));
        QVERIFY(store.insert(logEvent("2026-12-03 09:00:00", QStringLiteral("zel.hall"),
                                      QStringLiteral("Status"), QStringLiteral("21.5 C"))));
        QVERIFY(store.insert(logEvent("2026-12-05 00:00:00", QStringLiteral("hs.den"),
                                      QStringLiteral("Device"), QStringLiteral("O'Neil's lamp"))));
        auto filtered = [](QString source, QString type, QString data) {
            EventQuery q;
            q.from = QStringLiteral("2026-11-28 00:00:00");
            q.order = EventQuery::Order::Ascending;
            q.source = source;
            q.type = type;
            q.data = data;
            return q;
        };
        const auto data = [&](const EventQuery& q) { return dataOf(store, q); };
        const QString lamp =
            QString(QStringLiteral("O'Neil's lamp")).replace(e.storedQuote[0], e.storedQuote[1]);
        QCOMPARE(data(filtered({}, {}, {})),
                 QStringList({QStringLiteral("21.5 C"), QStringLiteral("Door open"), lamp}));
        QCOMPARE(data(filtered(QStringLiteral("DEN"), {}, {})).size(), 2);
        QCOMPARE(data(filtered({}, QStringLiteral("status"), {})),
                 QStringList({QStringLiteral("21.5 C")}));
        QCOMPARE(
            data(filtered(QStringLiteral("hs."), QStringLiteral("log"), QStringLiteral("door"))),
            QStringList({QStringLiteral("Door open")}));
        // A filter with an apostrophe is a value like any other.
        QCOMPARE(data(filtered({}, {}, lamp.left(6))), QStringList({lamp}));
        EventQuery range = filtered({}, {}, {});
        range.to = QStringLiteral("2026-12-05 00:00:00");  // the first time no longer taken
        QCOMPARE(data(range), QStringList({QStringLiteral("21.5 C"), QStringLiteral("Door open")}));
        QCOMPARE(reader(store)->countEvents(range).value(), 2);
    }

    // Page by page through the key of the last row read: every row once, also among rows of the
    // same second or the same text, whatever the page size, sorted by time or by a text in
    // either direction (texts regardless of letter case, an empty one first).
    void pagesByKeyTakeEveryRowOnce_data() { addEngineColumn(); }
    void pagesByKeyTakeEveryRowOnce() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        Store store;
        QVERIFY(!store.open(e.settings).open);
        QVERIFY(store.beginBatch());
        const QString sources[] = {QStringLiteral("b"), QStringLiteral("A"), QString(),
                                   QStringLiteral("a"), QStringLiteral("c")};
        for (int i = 0; i < 23; ++i) {
            const QString time = QStringLiteral("2026-12-0") + QString::number(1 + i / 5) +
                                 QStringLiteral(" 10:00:0") + QString::number(i % 5 / 2);
            QVERIFY(store.insert(
                LogEvent{time, sources[i % 5], QStringLiteral("Log"), QString::number(i)}));
        }
        QVERIFY(store.endBatch());
        const QList<StoredEvent> rows = history(store);
        QCOMPARE(rows.size(), 23);
        QList<StoredEvent> bySource = rows;
        std::stable_sort(bySource.begin(), bySource.end(), [](const auto& a, const auto& b) {
            return a.event.source.toLower() < b.event.source.toLower();
        });
        auto ordered = [](const QList<StoredEvent>& list, bool reversed) {
            QStringList out;
            for (const StoredEvent& r : list) {
                reversed ? out.prepend(r.event.data) : out.append(r.event.data);
            }
            return out;
        };
        for (const auto column : {EventQuery::Column::Time, EventQuery::Column::Source}) {
            for (const auto order : {EventQuery::Order::Descending, EventQuery::Order::Ascending}) {
                const QStringList expected =
                    ordered(column == EventQuery::Column::Time ? rows : bySource,
                            order == EventQuery::Order::Descending);
                for (int pageSize : {1, 4, 23}) {
                    EventQuery q;
                    q.sortBy = column;
                    q.order = order;
                    q.limit = pageSize;
                    QStringList paged;
                    const auto pages = reader(store);
                    for (int page = 0; page < 30; ++page) {
                        qint64 last = -1;
                        QVERIFY(pages->readEvents(q, [&](const StoredEvent& r) {
                            paged.append(r.event.data);
                            last = r.id;
                        }));
                        if (last < 0) {
                            break;
                        }
                        q.after = last;
                    }
                    QCOMPARE(paged, expected);
                }
            }
        }
        EventQuery q;
        q.data = QStringLiteral("1");
        QCOMPARE(reader(store)->countEvents(q).value(), 12);  // 1, 10..19, 21
    }

    // Pages of the export join without a gap or a repeat. (What the texts become is the export
    // command's test.)
    void exportPagesJoinWithoutAGapOrARepeat() {
        Store store;
        QVERIFY(!store.open(fileDatabase("export.mdb")).open);
        QVERIFY(store.beginBatch());
        for (int i = 0; i < 5003; ++i) {
            QVERIFY(
                store.insert(LogEvent{QStringLiteral("2026-12-02 00:00:00"), QStringLiteral("s"),
                                      QStringLiteral("t"), QString::number(i)}));
        }
        QVERIFY(store.endBatch());
        EventQuery q;
        q.order = EventQuery::Order::Ascending;
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QList<qint64> pages;
        const Result<qint64> rows = EventExport::write(
            store, q, ExportFormat::Csv, csv, [&](qint64 n) { return pages.append(n), true; });
        QCOMPARE(rows.value(), 5003);
        QCOMPARE(pages, QList<qint64>({5000, 5003}));
        const QList<QByteArray> lines = csv.data().split('\n');
        QCOMPARE(lines.size(), 5005);  // the header, the rows, nothing after the last line end
        for (int i = 0; i < 5003; ++i) {
            const QByteArray end = ",s,t," + QByteArray::number(i) + '\r';
            QVERIFY2(lines[i + 1].endsWith(end), lines[i + 1]);
        }
    }

    // Retention: the oldest rows before the limit go in batches of the size asked for, newer
    // ones stay, and a key is never handed out again, not even after every row went.
    void oldRowsGoInBatchesAndKeysAreNeverReused_data() { addEngineColumn(); }
    void oldRowsGoInBatchesAndKeysAreNeverReused() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        Store store;
        QVERIFY(!store.open(e.settings).open);
        for (int day = 1; day <= 10; ++day) {
            const QString time = QStringLiteral("2026-11-%1 12:00:00").arg(day, 2, 10, QChar(u'0'));
            QVERIFY(store.insert(
                LogEvent{time, QStringLiteral("old"), QStringLiteral("t"), QString::number(day)}));
        }
        for (const char* time : {"2026-11-30 23:59:59", "2026-12-01 00:00:00", "2026-12-05"}) {
            QVERIFY(store.insert(
                logEvent(time, QStringLiteral("new"), QStringLiteral("t"), QStringLiteral("d"))));
        }
        const qint64 lastKey = history(store).last().id;
        const QString limit = QStringLiteral("2026-12-01 00:00:00");
        using Table = StoreProvider::Table;
        QList<int> batches;
        for (int gone = -1; gone != 0;) {
            const Result<int> r = store.deleteRowsBefore(Table::Events, limit, 4);
            QVERIFY2(r, qPrintable(r ? QString() : r.problem().description));
            batches.append(gone = r.value());
        }
        QCOMPARE(batches, (QList<int>{4, 4, 3, 0}));
        const auto rows = history(store);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].event.time, limit);

        QCOMPARE(store.deleteRowsBefore(Table::Events, QStringLiteral("2027-01-01 00:00:00"), 100)
                     .value(),
                 2);
        QVERIFY(store.insert(logEvent("2026-12-06 08:00:00", QStringLiteral("after"),
                                      QStringLiteral("t"), QStringLiteral("d"))));
        QVERIFY(history(store).value(0).id > lastKey);
    }

    // The messages table is made beside the event table, keeps whole texts, is read by source
    // in the order of arrival, page by page, and purged like the event table.
    void messagesTableIsWrittenReadAndPurged_data() { addEngineColumn(); }
    void messagesTableIsWrittenReadAndPurged() {
        QFETCH(int, engine);
        Engine e = this->engine(engine, freshTable());
        e.settings.messagesTable = e.settings.table + QStringLiteral("_msg");
        Store store;
        const Store::OpenProblems opened = store.open(e.settings);
        QVERIFY2(!opened.create && !opened.open,
                 qPrintable(opened.create ? opened.create->description : QString()));
        const QString text =
            QStringLiteral("xap-header\n{\nclass=xAPBSC.event\n}\nx\n{\nname=Küche \"1\"\n}\n");
        QList<LoggedMessage> sent;
        for (int i = 0; i < 5; ++i) {
            sent.append(LoggedMessage{
                QStringLiteral("2026-12-0%1 10:00:00").arg(i + 1),
                i % 2 ? QStringLiteral("acme.lights.hall") : QStringLiteral("acme.lights.kitchen"),
                i == 0 ? QString() : QStringLiteral("zel.x.y"), QStringLiteral("xAPBSC.event"),
                QStringLiteral("FF00AB01"), text});
            QVERIFY(store.insertMessage(sent.last()));
        }
        MessageQuery q;
        q.source = QStringLiteral("KITCHEN");
        q.limit = 2;
        QList<StoredMessage> read;
        const auto messages = reader(store);
        QVERIFY(messages->readMessages(q, [&](const StoredMessage& m) { read.append(m); }));
        q.after = read.last().id;
        QVERIFY(messages->readMessages(q, [&](const StoredMessage& m) { read.append(m); }));
        QCOMPARE(read.size(), 3);
        QCOMPARE(read[0].message, sent[0]);
        QCOMPARE(read[2].message, sent[4]);
        QCOMPARE(store
                     .deleteRowsBefore(StoreProvider::Table::Messages,
                                       QStringLiteral("2026-12-03 00:00:00"), 10)
                     .value(),
                 2);
        read.clear();
        QVERIFY(messages->readMessages({}, [&](const StoredMessage& m) { read.append(m); }));
        QCOMPARE(read.size(), 3);
        QCOMPARE(read[0].message.time, QStringLiteral("2026-12-03 10:00:00"));
    }

    // A new file database takes its rows from the log into the file soon after they are
    // committed, and gives the space of purged rows back to the file system.
    void aNewFileDatabaseGivesPurgedSpaceBack() {
        const DatabaseSettings settings = fileDatabase("shrinks.mdb");
        const QString& path = settings.database;
        Store store;
        const Store::OpenProblems opened = store.open(settings);
        QVERIFY(!opened.open && !opened.create);
        QVERIFY(store.beginBatch());
        const QString data(2000, u'x');
        for (int i = 0; i < 5000; ++i) {
            QVERIFY(store.insert(LogEvent{QStringLiteral("2026-11-01 00:00:00"),
                                          QStringLiteral("s"), QStringLiteral("t"), data}));
        }
        QVERIFY(store.endBatch());
        // The log is copied into the file beside the writer, without a call of its.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 10'000'000, 10000);
        QVERIFY(store.releaseSpace(400 * 1024).ok());  // nothing is free yet
        const qint64 full = QFileInfo(path).size();
        while (
            store.deleteRowsBefore(StoreProvider::Table::Events, QStringLiteral("2026-12-01"), 1000)
                .value() > 0) {
        }
        int steps = 0;
        for (Result<bool> more = true; more && more.value(); ++steps) {
            more = store.releaseSpace(2 * 1024 * 1024);
            QVERIFY(more);
        }
        QVERIFY(steps > 1);
        QTRY_VERIFY2_WITH_TIMEOUT(
            QFileInfo(path).size() < full / 10,
            qPrintable(QStringLiteral("%1 of %2").arg(QFileInfo(path).size()).arg(full)), 10000);
    }

    // File database: a refused row leaves its neighbours in the same batch.
    void aRefusedRowInABatchLeavesItsNeighbours() {
        const Engine file{{}, fileDatabase("check.mdb", QStringLiteral("tblCheck")), {}};
        // An existing table in another letter case, with a rule of its own, is used as it is.
        QVERIFY(rawExec(file, {QStringLiteral("CREATE TABLE TBLCHECK (ID INTEGER PRIMARY KEY, "
                                              "SampleDate, Source, Category, Data CHECK (Data <> "
                                              "'bad'))")}));
        Store store;
        store.open(file.settings);
        QVERIFY(store.beginBatch());
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, QStringLiteral("x"))));
        QVERIFY(!store.insert(logEvent("2026-12-04 10:00:01", {}, {}, QStringLiteral("bad"))));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:02", {}, {}, QStringLiteral("y"))));
        // A run written many rows to a statement: the refused row's statement is undone and
        // tried a row at a time, so that the run stops at that row and no other.
        std::vector<LogEvent> run;
        for (int i = 0; i < 40; ++i) {
            run.push_back(logEvent("2026-12-04 10:00:03", {}, {},
                                   i == 20 ? QStringLiteral("bad") : QString::number(i)));
        }
        const StoreProvider::RunWritten first = store.insertRun(run);
        QCOMPARE(first.written, 20);
        QVERIFY(!first.next);
        const StoreProvider::RunWritten rest = store.insertRun(std::span(run).subspan(21));
        QCOMPARE(rest.written, 19);
        QVERIFY(rest.next);
        QVERIFY(store.endBatch());
        QCOMPARE(history(store).size(), 2 + 39);
    }

    void aForeignFileIsRefusedAndLeftUntouched() {
        const DatabaseSettings settings = fileDatabase("old.mdb");
        const QString& path = settings.database;
        QByteArray jet(4096, '\0');
        jet.replace(4, 15, "Standard Jet DB");
        QVERIFY(writeFile(path, jet));
        Store store;
        const auto p = store.open(settings);
        QVERIFY(p.open &&
                p.open->description.contains(path + QStringLiteral(" is not a SQLite database")));
        QVERIFY(!store.isOpen());
        QCOMPARE(readFile(path), jet);
        QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")));
    }

    // The file moved away mid-batch: its rows stay in it, and the store closes.
    void aDatabaseReplacedWhileOpenKeepsItsRows() {
        DatabaseSettings settings = fileDatabase("moving.mdb");
        const QString path = settings.database;
        Store store;
        store.open(settings);
        QVERIFY(store.beginBatch());
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, QStringLiteral("1"))));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:01", {}, {}, QStringLiteral("2"))));
        const QString moved = settings.database = fileDatabase("moved.mdb").database;
        QVERIFY(QFile::rename(path, moved));
        QVERIFY(QDir().mkdir(path));  // a folder where the file was
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:02", {}, {}, QStringLiteral("3"))));
        QVERIFY(store.endBatch());  // committed, into the file that moved
        QVERIFY(!store.isOpen());
        const Status s = store.insert(logEvent("2026-12-04 10:00:03", {}, {}, QStringLiteral("4")));
        QVERIFY(!s);
        QCOMPARE(s.problem().kind, ErrorKind::DatabaseUnavailable);
        QVERIFY2(s.problem().description.contains(
                     QStringLiteral("was removed or replaced while open")) &&
                     s.problem().description.contains(
                         QStringLiteral("The last 3 rows went to the file")),
                 qPrintable(s.problem().description));
        QCOMPARE(QFileInfo(path + QStringLiteral("-wal")).size(), 0);  // nothing left to replay
        Store reopened;
        reopened.open(settings);
        QCOMPARE(history(reopened).size(), 3);
    }

    // Two loggers (two sites) start at the same moment on a server database that does not exist
    // yet: both make it, write and purge their old rows at the same time without an error, and
    // no row is lost.
    void twoLoggersStartTogetherOnANewDatabase_data() { addEngineColumn(true); }
    void twoLoggersStartTogetherOnANewDatabase() {
        QFETCH(int, engine);
        DatabaseSettings settings = this->engine(engine, QStringLiteral("tblQuilljot")).settings;
        settings.database =
            QStringLiteral("QjTwo") + QString::number(QDateTime::currentMSecsSinceEpoch());
        constexpr int kRows = 60;
        std::barrier together(2);
        std::mutex lock;
        QStringList problems;
        const auto site = [&](const QString& name) {
            const auto failed = [&](const QString& what, const std::optional<Problem>& p) {
                if (p) {
                    const std::lock_guard hold(lock);
                    problems.append(name + u' ' + what + QStringLiteral(": ") + p->description);
                }
            };
            Store store;
            together.arrive_and_wait();
            const Store::OpenProblems opened = store.open(settings);
            failed(QStringLiteral("create"), opened.create);
            failed(QStringLiteral("open"), opened.open);
            for (int pass = 0; pass < 3; ++pass) {
                failed(QStringLiteral("begin"), store.beginBatch().optional());
                for (int i = 0; i < kRows / 3; ++i) {
                    // Half of the rows old enough to be purged.
                    const QString time = (i % 2 ? QStringLiteral("2026-11-01 10:00:%1")
                                                : QStringLiteral("2026-12-05 10:00:%1"))
                                             .arg(i, 2, 10, QChar(u'0'));
                    failed(QStringLiteral("insert"),
                           store
                               .insert(
                                   LogEvent{time, name, QStringLiteral("t"), QString::number(pass)})
                               .optional());
                }
                failed(QStringLiteral("end"), store.endBatch().optional());
            }
            failed(QStringLiteral("message"),
                   store
                       .insertMessage(LoggedMessage{
                           QStringLiteral("2026-11-01 00:00:00"), name, {}, {}, {}, {}})
                       .optional());
            together.arrive_and_wait();
            for (int gone = -1; gone != 0;) {
                const Result<int> r = store.deleteRowsBefore(StoreProvider::Table::Events,
                                                             QStringLiteral("2026-12-01"), 7);
                failed(QStringLiteral("purge"), r ? std::nullopt : std::optional(r.problem()));
                gone = r ? r.value() : 0;
            }
        };
        std::thread first(site, QStringLiteral("site1"));
        std::thread second(site, QStringLiteral("site2"));
        first.join();
        second.join();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        Store store;
        QVERIFY(store.openForReading(settings));
        EventQuery all;
        all.to = QStringLiteral("2100-01-01");
        QCOMPARE(store.countEvents(all).value(), kRows);  // the new half of both sites
        for (const char* name : {"site1", "site2"}) {
            all.source = QLatin1String(name);
            QCOMPARE(store.countEvents(all).value(), kRows / 2);
        }
        int messages = 0;
        QVERIFY(store.readMessages({}, [&](const StoredMessage&) { ++messages; }));
        QCOMPARE(messages, 2);
    }

    // A pass with a row the server refuses, whose connection the server ends while the pass is
    // sent: it is sent again on a new connection, refused for that row and undone. Written again
    // (as the spool does), that row alone is refused, as its own write, and the rest kept in
    // order. An existing table in another letter case is used as it is, and gets the time index.
    void postgresPassWithARefusedRowAndALostConnection() {
        if (!m_pg.running()) {
            QSKIP("no PostgreSQL server");
        }
        Store store;
        QVERIFY(
            !store.open(m_pg.settings(QStringLiteral("quilljot_store"), QStringLiteral("tblFirst")))
                 .open);
        QSqlQuery admin(pgAdmin());
        QVERIFY(admin.exec(QStringLiteral(
            "CREATE TABLE \"TBLCHECK\" (ID serial PRIMARY KEY, SampleDate timestamp, "
            "Source text, Category text, Data text CHECK (Data <> 'bad'));"
            "ALTER TABLE \"TBLCHECK\" OWNER TO quilljot")));
        QVERIFY(
            !store.open(m_pg.settings(QStringLiteral("quilljot_store"), QStringLiteral("tblCheck")))
                 .open);
        QList<LogEvent> pass;
        // Rows long enough to be sent before the pass ends: the first on the connection that
        // then ends, the last into it afterwards.
        const QString x = QStringLiteral("x") + QString(40000, u'.');
        const QString z = QStringLiteral("z") + QString(40000, u'.');
        for (const QString& data :
             {x, QStringLiteral("bad"), QStringLiteral("y"), QStringLiteral("bad"), z}) {
            pass.append(logEvent("2026-12-04 10:00:00", {}, {}, data));
        }
        QVERIFY(store.beginBatch());
        for (const LogEvent& e : pass.first(4)) {
            QVERIFY(store.insert(e));
        }
        QVERIFY(admin.exec(
            QStringLiteral("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                           "WHERE application_name = 'quilljot'")));
        QVERIFY(store.insert(pass[4]));
        const Status sent = store.endBatch();
        QVERIFY(!sent);
        QCOMPARE(sent.problem().kind, ErrorKind::Database);
        QVERIFY2(sent.problem().description.startsWith(QStringLiteral("2 of the 5 rows")),
                 qPrintable(sent.problem().description));
        QVERIFY(history(store).isEmpty());

        QStringList refused;
        QVERIFY(store.beginBatch());
        for (const LogEvent& e : pass) {
            const Status written = store.insert(e);
            if (!written) {
                QCOMPARE(written.problem().kind, ErrorKind::Database);
                refused.append(e.data);
            }
        }
        QVERIFY(store.endBatch());
        QCOMPARE(refused, QStringList({QStringLiteral("bad"), QStringLiteral("bad")}));
        QCOMPARE(dataOf(store), QStringList({x, QStringLiteral("y"), z}));
        QVERIFY(admin.exec(
            QStringLiteral("SELECT count(*) FROM pg_indexes WHERE indexdef ILIKE "
                           "'%(sampledate)' AND tablename IN ('TBLCHECK', 'tblfirst')")));
        QVERIFY(admin.next());
        QCOMPARE(admin.value(0).toInt(), 2);
    }

    // The socket folder as host and this system user's own sign-in; a database named in mixed
    // case is made as named. A refused password is never shown.
    void postgresPeerSignInOnTheSocketAndMaskedRefusal() {
        if (!m_pg.running()) {
            QSKIP("no PostgreSQL server");
        }
        {
            Store store;
            const auto p =
                store.open(m_pg.settings(QStringLiteral("PeerLog"), QStringLiteral("t"), true));
            QVERIFY2(!p.create && !p.open, qPrintable(p.create ? p.create->description
                                                      : p.open ? p.open->description
                                                               : QString()));
            QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, QStringLiteral("peer"))));
            QCOMPARE(history(store).size(), 1);
        }
        DatabaseSettings wrong = m_pg.settings(QStringLiteral("PeerLog"), QStringLiteral("t"));
        wrong.sqlSource.replace(m_pg.password, QStringLiteral("Wr0ng-S3cret"));
        Store store;
        const auto p = store.open(wrong);
        QVERIFY(p.create && p.open);
        QCOMPARE(p.create->step, 3);
        for (const Problem& problem : {*p.create, *p.open}) {
            QVERIFY2(problem.description.startsWith(
                         QStringLiteral("Cannot connect to PostgreSQL 127.0.0.1,")),
                     qPrintable(problem.description));
            QVERIFY(!problem.description.contains(QStringLiteral("Wr0ng-S3cret")));
        }
    }

    void serverSourcesAndMaskedPasswords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("parts");  // host, port, user, password
        QTest::newRow("host and port")
            << QStringLiteral("sqlhost,1433")
            << QStringList{QStringLiteral("sqlhost"), QStringLiteral("1433"), {}, {}};
        QTest::newRow("login") << QStringLiteral(" sqlhost ; User ID = logger; Password=s3cret")
                               << QStringList{QStringLiteral("sqlhost"),
                                              {},
                                              QStringLiteral("logger"),
                                              QStringLiteral("s3cret")};
        QTest::newRow("braced password with ;")
            << QStringLiteral("h,1; User ID=a; Password={Semi;colon1}")
            << QStringList{QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("a"),
                           QStringLiteral("Semi;colon1")};
        QTest::newRow("connection string")
            << QStringLiteral(
                   "Provider = sqloledb; Data Source =127.0.0.1,14330; User ID=u; Password=p; "
                   "Initial Catalog=Q")
            << QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("14330"),
                           QStringLiteral("u"), QStringLiteral("p")};
    }
    void serverSourcesAndMaskedPasswords() {
        QFETCH(QString, text);
        QFETCH(QStringList, parts);
        const ServerSource s = ServerSource::parse(text);
        QCOMPARE((QStringList{s.host, s.port, s.userId, s.password}), parts);
        if (!s.password.isEmpty()) {
            QVERIFY(!ServerSource::redactedSource(text).contains(s.password));
            const QString odbc =
                SqlServerProvider::odbcText(s, QStringLiteral("Home"), QStringLiteral("FreeTDS"));
            QVERIFY2(
                odbc.endsWith(u';') && odbc.contains(QStringLiteral("PWD={") + s.password + u'}'),
                qPrintable(odbc));
        }
    }

    // No SQL Server needed. A server that takes the connection and never answers, and one that
    // refuses it: the open fails within the login timeout, once, as a failure that may pass,
    // named clearly and without the password; writes fail the same way and do not wait.
    void silentOrAbsentServerFailsOnceAndInTime() {
        QVERIFY2(QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")),
                 "Qt's ODBC driver is missing (package libqt6sql6-odbc)");
        // Listens and never accepts: the system takes the connection, nobody answers.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                ::listen(silent, 4) == 0 &&
                ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        const auto closeSilent = qScopeGuard([silent] { ::close(silent); });
        for (const QString& port :
             {QString::number(ntohs(address.sin_port)), QStringLiteral("1")}) {
            QElapsedTimer clock;
            clock.start();
            Store store;
            const auto p =
                store.open(DatabaseSettings{DatabaseKind::SqlServer,
                                            QStringLiteral("127.0.0.1,") + port +
                                                QStringLiteral("; User ID=sa; Password=S3cret-Pw"),
                                            QStringLiteral("none"), QStringLiteral("t")});
            QVERIFY(clock.elapsed() < (SqlServerProvider::kLoginTimeoutSeconds + 3) * 1000);
            QVERIFY2(!p.create && p.open, qPrintable(p.create ? p.create->description : port));
            QCOMPARE(p.open->kind, ErrorKind::DatabaseUnavailable);
            QVERIFY2(p.open->description.startsWith(
                         QStringLiteral("Cannot connect to SQL Server 127.0.0.1,") + port),
                     qPrintable(p.open->description));
            QVERIFY(!p.open->description.contains(QStringLiteral("S3cret")));
            clock.restart();
            const Status s = store.insert(logEvent("2026-12-04 10:00:00", {}, {}, {}));
            QVERIFY(!s && s.problem().passes());
            QVERIFY(clock.elapsed() < 500);
        }
    }

    // A lone surrogate half has no UTF-8: the file database keeps a "?" for it, as it always did,
    // beside a text that grew and shrank the bound values.
    void aLoneSurrogateHalfIsStoredAsAQuestionMark() {
        Store store;
        store.open(fileDatabase("half.mdb"));
        const QString half(QChar(0xD800));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", QStringLiteral("a"),
                                      QStringLiteral("t"), QString(5000, u'é'))));
        QVERIFY(
            store.insert(logEvent("2026-12-04 10:00:01", QStringLiteral("a.b") + half, half + u'"',
                                  QStringLiteral("x") + half + QStringLiteral("y"))));
        const auto rows = history(store);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].event.data, QString(5000, u'é'));
        QCOMPARE(rows[1].event, logEvent("2026-12-04 10:00:01", QStringLiteral("a.b?"),
                                         QStringLiteral("?'"), QStringLiteral("x?y")));
    }

    // A Source or Category longer than its column is cut with a mark rather than refused.
    void longNamesAreCut() {
        SQL_SERVER_OR_SKIP(e, serverEngine(freshTable()))
        const QString longName = QString(300, u'n');
        Store store;
        QVERIFY(!store.open(e->settings).create);
        QVERIFY(
            store.insert(logEvent("2026-12-04 10:00:00", longName, longName, QStringLiteral("d"))));
        const auto rows = history(store);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].event.source.size(), SqlServerProvider::kNameColumnSize);
        QCOMPARE(rows[0].event.type, QString(254, u'n') + SqlServerProvider::kCutMark);
    }

    // Every layout a version of the logger has made, and the event table alone as first
    // designed, is brought to the newest by the steps after it when the logger opens it, every
    // row kept, and its layout recorded; a second start changes nothing; a layout newer than the
    // logger knows is refused and nothing is written.
    void olderLayoutsAreUpgradedAndNewerRefused_data() {
        QTest::addColumn<int>("engine");
        QTest::addColumn<QString>("layout");  // %1 the event table, %2 the messages table
        QTest::addColumn<int>("from");        // the layout it has
        const auto list = testEngines(m_dir.path(), QString(), m_pg);
        const QString sqliteFirst = QStringLiteral(
            "CREATE TABLE %1 (ID INTEGER CONSTRAINT PrimaryKey PRIMARY KEY AUTOINCREMENT, "
            "SampleDate DATETIME, Source VARCHAR(255), Category VARCHAR(255), Data TEXT)");
        const QString sqliteOne =
            sqliteFirst +
            QStringLiteral(
                ";CREATE INDEX \"%1_SampleDate\" ON \"%1\" (SampleDate);CREATE TABLE "
                "\"%2\" (ID INTEGER PRIMARY KEY AUTOINCREMENT, ReceivedDate DATETIME, "
                "Source VARCHAR(255), Target VARCHAR(255), Class VARCHAR(255), UID "
                "VARCHAR(32), Message TEXT);CREATE INDEX \"%2_ReceivedDate\" ON "
                "\"%2\" (ReceivedDate)");
        const QString sqliteTwo =
            sqliteOne + QStringLiteral(
                            ";CREATE TABLE \"%1_Activity\" (Hour VARCHAR(19) NOT NULL, Source "
                            "VARCHAR(255) NOT NULL, Category VARCHAR(255) NOT NULL, Events INTEGER "
                            "NOT NULL, PRIMARY KEY (Hour, Source, Category)) WITHOUT ROWID;CREATE "
                            "TABLE \"%1_ActivityDays\" (Day VARCHAR(19) NOT NULL, Source "
                            "VARCHAR(255) NOT NULL, Category VARCHAR(255) NOT NULL, Events INTEGER "
                            "NOT NULL, PRIMARY KEY (Day, Source, Category)) WITHOUT ROWID");
        const QString pgFirst = QStringLiteral(
            "CREATE TABLE %1 (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
            "SampleDate timestamp NOT NULL, Source text, Category text, Data text);"
            "CREATE INDEX %1_sampledate ON %1 (SampleDate)");
        const QString pgRecord = QStringLiteral(
            ";CREATE TABLE IF NOT EXISTS tblQuilljotLayout (TableName text PRIMARY KEY, Version "
            "integer NOT NULL);INSERT INTO tblQuilljotLayout VALUES (lower('%1'), %3)");
        const QString pgOne =
            pgFirst +
            QStringLiteral(
                ";CREATE TABLE %2 (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                "ReceivedDate timestamp NOT NULL, Source text, Target text, Class text, "
                "UID text, Message text);CREATE INDEX %2_receiveddate ON %2 "
                "(ReceivedDate)");
        const QString pgTwo =
            pgOne +
            QStringLiteral(
                ";CREATE TABLE %1_activity (Hour text NOT NULL, Source text NOT NULL, "
                "Category text NOT NULL, Events bigint NOT NULL, PRIMARY KEY (Hour, Source, "
                "Category));CREATE TABLE %1_activitydays (Day text NOT NULL, Source text "
                "NOT NULL, Category text NOT NULL, Events bigint NOT NULL, PRIMARY KEY "
                "(Day, Source, Category))");
        const QString mssqlFirst = QStringLiteral(
            "CREATE TABLE %1 (ID int IDENTITY(1,1), SampleDate[datetime] NOT NULL, "
            "Source varchar(255) NULL, Category varchar(255) NULL, Data text NULL);"
            "ALTER TABLE %1 WITH NOCHECK ADD CONSTRAINT [PK_%1] PRIMARY KEY NONCLUSTERED (ID)");
        const QString mssqlUnrecorded = QStringLiteral(
            "CREATE TABLE %1 (ID int IDENTITY(1,1) CONSTRAINT [PK_%1] PRIMARY KEY "
            "NONCLUSTERED, SampleDate datetime2(0) NOT NULL, Source nvarchar(255) NULL, "
            "Category nvarchar(255) NULL, Data nvarchar(max) NULL);"
            "CREATE INDEX [IX_%1_SampleDate] ON %1 (SampleDate)");
        const QString mssqlOne =
            mssqlUnrecorded +
            QStringLiteral(
                ";CREATE TABLE %2 (ID int IDENTITY(1,1) CONSTRAINT [PK_%2] PRIMARY KEY "
                "NONCLUSTERED, ReceivedDate datetime2(0) NOT NULL, Source nvarchar(255) NULL, "
                "Target nvarchar(255) NULL, Class nvarchar(255) NULL, UID nvarchar(64) NULL, "
                "Message nvarchar(max) NULL);CREATE INDEX [IX_%2_ReceivedDate] ON %2 "
                "(ReceivedDate)");
        const QString mssqlTwo =
            mssqlOne + QStringLiteral(
                           ";CREATE TABLE %1_Activity (Hour varchar(19) NOT NULL, Source "
                           "nvarchar(255) NOT NULL, Category nvarchar(255) NOT NULL, Events bigint "
                           "NOT NULL, CONSTRAINT [PK_%1_Activity] PRIMARY KEY NONCLUSTERED (Hour, "
                           "Source, Category));CREATE TABLE %1_ActivityDays (Day varchar(19) NOT "
                           "NULL, Source nvarchar(255) NOT NULL, Category nvarchar(255) NOT NULL, "
                           "Events bigint NOT NULL, CONSTRAINT [PK_%1_ActivityDays] PRIMARY KEY "
                           "NONCLUSTERED (Day, Source, Category))");
        const QString mssqlRecord = QStringLiteral(
            ";IF OBJECT_ID('tblQuilljotLayout', 'U') IS NULL CREATE TABLE tblQuilljotLayout "
            "(TableName nvarchar(128) NOT NULL CONSTRAINT [PK_tblQuilljotLayout] PRIMARY KEY, "
            "Version int NOT NULL);INSERT INTO tblQuilljotLayout VALUES ('%1', %3)");
        struct Layout {
            const char* name;
            QString sql;
            int from;
        };
        const std::map<DatabaseKind, QList<Layout>> layouts = {
            {DatabaseKind::File,
             {{"design",
               QStringLiteral("CREATE TABLE %1 (ID INTEGER PRIMARY KEY, SampleDate DATETIME, "
                              "Source TEXT, Category TEXT, Data TEXT)"),
               0},
              {"first", sqliteFirst, 0},
              {"unrecorded",
               sqliteFirst + QStringLiteral(";CREATE INDEX \"%1_SampleDate\" ON %1 (SampleDate)"),
               0},
              // Recorded in the file's user_version, as versions before the record did.
              {"layout 1", sqliteOne + QStringLiteral(";PRAGMA user_version = 1"), 1},
              {"layout 2", sqliteTwo + QStringLiteral(";PRAGMA user_version = 2"), 2}}},
            {DatabaseKind::PostgreSql,
             {{"design",
               QStringLiteral("CREATE TABLE %1 (ID serial PRIMARY KEY, SampleDate timestamp, "
                              "Source text, Category text, Data text)"),
               0},
              {"first", pgFirst, 0},
              {"layout 1",
               pgOne + QString(pgRecord).replace(QStringLiteral("%3"), QStringLiteral("1")), 1},
              {"layout 2",
               pgTwo + QString(pgRecord).replace(QStringLiteral("%3"), QStringLiteral("2")), 2}}},
            {DatabaseKind::SqlServer,
             {{"design",
               QStringLiteral("CREATE TABLE %1 (ID int IDENTITY(1,1), SampleDate datetime NULL, "
                              "Source text NULL, Category text NULL, Data text NULL)"),
               0},
              {"first", mssqlFirst, 0},
              {"indexed",
               mssqlFirst + QStringLiteral(";CREATE INDEX [IX_%1_SampleDate] ON %1 (SampleDate)"),
               0},
              {"unrecorded", mssqlUnrecorded, 0},
              {"layout 1",
               mssqlOne + QString(mssqlRecord).replace(QStringLiteral("%3"), QStringLiteral("1")),
               1},
              {"layout 2",
               mssqlTwo + QString(mssqlRecord).replace(QStringLiteral("%3"), QStringLiteral("2")),
               2}}},
        };
        for (int i = 0; i < list.size(); ++i) {
            for (const Layout& l : layouts.at(list[i].settings.kind)) {
                QTest::newRow(qPrintable(list[i].name + u' ' + QLatin1String(l.name)))
                    << i << l.sql << l.from;
            }
        }
    }
    void olderLayoutsAreUpgradedAndNewerRefused() {
        QFETCH(int, engine);
        QFETCH(QString, layout);
        QFETCH(int, from);
        Engine e = this->engine(engine, freshTable());
        DatabaseSettings& s = e.settings;
        s.messagesTable = s.table + QStringLiteral("_msg");
        if (s.kind == DatabaseKind::File) {
            s.database = m_dir.path() + QStringLiteral("/Data/") + s.table +
                         QStringLiteral(".db");  // a layout per file
        } else if (static QSet<DatabaseKind> made; !made.contains(s.kind)) {
            // The database itself is there already.
            DatabaseSettings other = s;
            other.table = freshTable();
            other.messagesTable = other.table + QStringLiteral("_msg");
            QVERIFY(!Store().open(other).create);
            made.insert(s.kind);
        }
        // SQL Server's varchar(255) holds no more; its text does.
        const bool roomy =
            s.kind != DatabaseKind::SqlServer || layout.contains(QStringLiteral("Source text"));
        const QString longName(roomy ? 300 : 255, u'n');
        QStringList sql = QString(layout)
                              .replace(QStringLiteral("%1"), s.table)
                              .replace(QStringLiteral("%2"), s.messagesTable)
                              .split(u';');
        if (s.kind == DatabaseKind::PostgreSql) {
            for (const QString& table :
                 QStringList{s.table, s.messagesTable, s.table + QStringLiteral("_activity"),
                             s.table + QStringLiteral("_activitydays"),
                             QStringLiteral("tblQuilljotLayout")}) {
                sql.append(
                    QStringLiteral("ALTER TABLE IF EXISTS %1 OWNER TO %2").arg(table, m_pg.user));
            }
        }
        sql.append(QStringLiteral("INSERT INTO %1 (SampleDate, Source, Category, Data) VALUES "
                                  "('2026-01-02 03:04:05', 'hs.den', 'Log', 'first row')")
                       .arg(s.table));
        sql.append(QStringLiteral("INSERT INTO %1 (SampleDate, Source, Category, Data) VALUES "
                                  "('2026-01-02 03:04:06', '%2', 'Log', 'second row')")
                       .arg(s.table, longName));
        QVERIFY(rawExec(e, sql));

        const auto keptRows = [&](const Store& store) {
            const auto rows = history(store);
            QCOMPARE(rows.size(), 2);
            QCOMPARE(rows[0].event, logEvent("2026-01-02 03:04:05", QStringLiteral("hs.den"),
                                             QStringLiteral("Log"), QStringLiteral("first row")));
            QCOMPARE(rows[1].event.data, QStringLiteral("second row"));
            // SQL Server's Source holds 255 characters: a longer one is cut as new ones are.
            QCOMPARE(rows[1].event.source.size(), s.kind == DatabaseKind::SqlServer ? 255 : 300);
        };
        const QString key = s.kind == DatabaseKind::PostgreSql ? s.table.toLower() : s.table;
        const QString recorded =
            QStringLiteral("SELECT Version FROM tblQuilljotLayout WHERE TableName = '%1'").arg(key);
        {
            Store store;
            const Store::OpenProblems p = store.open(s);
            QVERIFY2(!p.create && !p.open, qPrintable(p.create ? p.create->description
                                                      : p.open ? p.open->description
                                                               : QString()));
            // Only the steps after the layout it had: from 2 the text index alone, where the
            // engine keeps one.
            const QString said[] = {
                QStringLiteral("upgraded to layout 3"),
                QStringLiteral("had the layout of version 1 and were upgraded to layout 3, every "
                               "row kept: the activity summary made from the rows, "),
                QStringLiteral("had the layout of version 2 and were upgraded to layout 3, every "
                               "row kept: ")};
            QVERIFY2(p.upgraded.contains(said[from]) &&
                         p.upgraded.contains(QStringLiteral("activity summary made")) == (from < 2),
                     qPrintable(p.upgraded));
            keptRows(store);
            if (QTest::currentTestFailed()) {
                return;
            }
            // Recorded the same way on every engine.
            QCOMPARE(rawRows(e, recorded), QList<QStringList>{{QStringLiteral("3")}});
            if (s.kind == DatabaseKind::File) {
                // Read by earlier versions, which so refuse a newer layout.
                QCOMPARE(rawRows(e, QStringLiteral("PRAGMA user_version")).value(0).value(0),
                         QStringLiteral("3"));
                // The time index the history reads.
                QVERIFY(!rawRows(e, QStringLiteral("SELECT name FROM sqlite_master WHERE type = "
                                                   "'index' AND tbl_name = '%1' AND sql LIKE "
                                                   "'%(SampleDate)%'")
                                        .arg(s.table))
                             .isEmpty());
            }
            // Every date from year 1 and every character fit now.
            QVERIFY(store.insert(logEvent("1700-01-01 00:00:00", QStringLiteral("ü"),
                                          QStringLiteral("t"), QStringLiteral("ẞ"))));
            QVERIFY(store.insertMessage(LoggedMessage{
                QStringLiteral("2026-01-03 00:00:00"), QStringLiteral("a"), QStringLiteral("b"),
                QStringLiteral("c"), QStringLiteral("FF00"), QStringLiteral("m")}));
            EventQuery early;
            early.to = QStringLiteral("1800-01-01");
            QCOMPARE(history(store, early).value(0).event.data, QStringLiteral("ẞ"));
        }
        // The next start finds nothing to do, and changes nothing.
        const QList<QStringList> before = layoutOf(e);
        {
            Store store;
            const Store::OpenProblems p = store.open(s);
            QVERIFY(!p.create && !p.open);
            QCOMPARE(p.upgraded, QString());
        }
        QCOMPARE(layoutOf(e), before);
        QVERIFY(rawExec(e, {QStringLiteral("UPDATE tblQuilljotLayout SET Version = 99 "
                                           "WHERE TableName = '%1'")
                                .arg(key)}));
        Store store;
        const Store::OpenProblems p = store.open(s);
        QVERIFY(p.open);
        QVERIFY2(p.open->description.contains(QStringLiteral("layout 99, made by a newer version")),
                 qPrintable(p.open->description));
        QVERIFY(!store.insert(logEvent("2026-12-04 10:00:00", QStringLiteral("s"),
                                       QStringLiteral("t"), QStringLiteral("d"))));
        EventQuery all;
        all.to = QStringLiteral("2100-01-01");
        QCOMPARE(reader(store)->countEvents(all).value(), 3);
    }

    // The activity summary holds what COUNT(*) ... GROUP BY counts from the rows: after passes of
    // writes, a purge, a restart, and when it was lost and is made again at open.
    void activitySummaryCountsWhatTheRowsHold_data() { addEngineColumn(); }
    void activitySummaryCountsWhatTheRowsHold() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        const auto sameAsRows = [&] {
            for (const bool days : {false, true}) {
                const auto [summary, rows] = summaryAndRows(e, days);
                QVERIFY(!rows.isEmpty());
                QCOMPARE(summary, rows);
            }
        };
        const auto pass = [](Store& store, int first, int count) {
            QVERIFY(store.beginBatch());
            for (int i = first; i < first + count; ++i) {
                const QString time = QStringLiteral("2026-11-%1 %2:%3:00")
                                         .arg(1 + i % 9, 2, 10, QChar(u'0'))
                                         .arg(i % 24, 2, 10, QChar(u'0'))
                                         .arg(i % 60, 2, 10, QChar(u'0'));
                QVERIFY(store.insert(
                    LogEvent{time, QStringLiteral("s'r\"c") + QString::number(i % 3),
                             QStringLiteral("t") + QString::number(i % 2), QString::number(i)}));
            }
            QVERIFY(store.endBatch());
        };
        {
            Store store;
            QVERIFY(!store.open(e.settings).open);
            pass(store, 0, 200);
            pass(store, 200, 50);
            QVERIFY(store.rollUpActivity());
            sameAsRows();
            for (int gone = -1; gone != 0;) {
                const Result<int> r = store.deleteRowsBefore(
                    StoreProvider::Table::Events, QStringLiteral("2026-11-04 10:30:00"), 37);
                QVERIFY2(r, qPrintable(r ? QString() : r.problem().description));
                gone = r.value();
            }
            sameAsRows();
            // Rows not yet added (written outside a pass) are counted from the rows.
            QVERIFY(store.insert(logEvent("2026-11-09 23:59:59", QStringLiteral("late"),
                                          QStringLiteral("t"), QStringLiteral("d"))));
            ActivityQuery all = chartQuery("2026-11-01 00:00:00", "2026-11-10 00:00:00",
                                           ActivityQuery::Bucket::Day);
            const Result<ActivityChart> chart = reader(store)->activity(all);
            QVERIFY(chart);
            qint64 total = 0;
            for (const ActivityBucket& b : chart.value().buckets) {
                total += b.count;
            }
            EventQuery range;
            range.from = all.from;
            range.to = all.to;
            QCOMPARE(total, reader(store)->countEvents(range).value());
        }
        {
            Store store;
            QVERIFY(!store.open(e.settings).open);
            sameAsRows();
        }
        const QString summary = e.settings.kind == DatabaseKind::PostgreSql
                                    ? e.settings.table.toLower() + QStringLiteral("_activity")
                                    : e.settings.table + QStringLiteral("_Activity");
        QVERIFY(rawExec(e, {QStringLiteral("DROP TABLE ") + summary}));
        Store store;
        QVERIFY(!store.open(e.settings).open);
        sameAsRows();
    }

    // A summary far behind the rows (another program wrote 45,000) catches up a step of keys at a
    // time, and a chart counts exactly at every step.
    void activitySummaryCatchesUpInSteps() {
        const Engine e = engine(0, freshTable());
        QCOMPARE(e.settings.kind, DatabaseKind::File);
        Store store;
        QVERIFY(!store.open(e.settings).open);
        constexpr int kRows = 45000;
        QVERIFY(rawExec(
            e, {QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < %1) INSERT INTO %2 (SampleDate, Source, Category, "
                               "Data) SELECT strftime('%Y-%m-%d %H:%M:%S', '2026-11-01', "
                               "(i * 17) || ' seconds'), 's' || (i % 3), 't', i FROM n")
                    .arg(kRows)
                    .arg(e.settings.table)}));
        const auto mark = [&] {
            return rawRows(e, QStringLiteral("SELECT Events FROM ") + e.settings.table +
                                  QStringLiteral("_Activity WHERE Hour = ''"))
                .value(0)
                .value(0)
                .toLongLong();
        };
        const ActivityQuery days =
            chartQuery("2026-11-01 00:00:00", "2026-11-11 00:00:00", ActivityQuery::Bucket::Day);
        qint64 before = mark();
        for (int step = 0; step < 3; ++step) {
            QVERIFY(store.rollUpActivity());
            QVERIFY(mark() - before <= StoreProvider::kRollUpStepKeys);
            before = mark();
            const Result<ActivityChart> chart = reader(store)->activity(days);
            QVERIFY(chart);
            qint64 total = 0;
            for (const ActivityBucket& b : chart.value().buckets) {
                total += b.count;
            }
            QCOMPARE(total, kRows);
        }
        QCOMPARE(mark(), kRows);
        const auto [summary, rows] = summaryAndRows(e, true);
        QCOMPARE(summary, rows);
        // A count of the rows up to a key leaves the later ones out.
        ActivityQuery first =
            chartQuery("2026-11-01 00:00:00", "2026-11-01 06:00:00", ActivityQuery::Bucket::Minute);
        first.upToKey = 100;
        const Result<ActivityChart> counted = reader(store)->activity(first);
        QVERIFY(counted);
        qint64 upTo100 = 0;
        for (const ActivityBucket& b : counted.value().buckets) {
            upTo100 += b.count;
        }
        QCOMPARE(upTo100, 100);
    }

    // A disk that fills up under a batch makes SQLite abandon the batch's transaction, and the
    // rows written before with it: the batch's end says so, so that they are written again rather
    // than counted as written. The next batch goes in once there is room.
    void aBatchTheDiskTookAwayIsReported() {
        FullDiskVfs disk;
        Store store;
        QVERIFY(!store.open(fileDatabase("full.mdb")).open);
        const auto write = [&] {
            return store.insert(logEvent("2026-12-04 10:00:00", {}, {}, QString(1000, u'x')));
        };
        QVERIFY(store.beginBatch());
        QVERIFY(write());
        FullDiskVfs::setFull(true);
        Status written;
        // Past SQLite's page cache, the batch's pages go to the disk before the commit.
        for (int i = 0; i < 20000 && written; ++i) {
            written = write();
        }
        FullDiskVfs::setFull(false);
        QVERIFY2(!written && written.problem().passes(),
                 qPrintable(written ? QStringLiteral("written") : written.problem().description));
        const Status ended = store.endBatch();
        QVERIFY2(!ended && ended.problem().passes(),
                 qPrintable(ended ? QStringLiteral("ended") : ended.problem().description));
        QVERIFY(history(store).isEmpty());
        QVERIFY(store.beginBatch());
        QVERIFY(write());
        QVERIFY(store.endBatch());
        QCOMPARE(history(store).size(), 1);
    }

    // A chart's buckets for a known set: whole buckets, empty ones kept as gaps, weeks from
    // Monday, a split into the busiest parts and "other", filters, and minutes read from the rows.
    void activityChartBuckets_data() { addEngineColumn(); }
    void activityChartBuckets() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        Store store;
        QVERIFY(!store.open(e.settings).open);
        QVERIFY(store.beginBatch());
        const std::pair<const char*, const char*> events[] = {
            {"2026-03-02 08:10:00", "door"},   {"2026-03-02 08:20:00", "door"},
            {"2026-03-02 08:59:59", "door"},   {"2026-03-02 09:00:00", "lamp"},
            {"2026-03-02 11:30:00", "fan"},    {"2026-03-04 00:00:00", "door"},
            {"2026-03-09 12:00:00", "heater"}, {"2026-03-29 02:30:00", "lamp"},
        };
        for (const auto& [time, source] : events) {
            QVERIFY(store.insert(logEvent(time, QString::fromLatin1(source), QStringLiteral("Log"),
                                          QStringLiteral("on ") + QLatin1String(source))));
        }
        QVERIFY(store.endBatch());
        const auto counts = [&](const ActivityQuery& q) {
            QList<qint64> out;
            const Result<ActivityChart> chart = reader(store)->activity(q);
            if (!chart) {
                qWarning() << chart.problem().description;
                return out;
            }
            for (const ActivityBucket& b : chart.value().buckets) {
                out.append(b.count);
            }
            return out;
        };
        ActivityQuery hours =
            chartQuery("2026-03-02 08:30:00", "2026-03-02 12:00:00", ActivityQuery::Bucket::Hour);
        QCOMPARE(counts(hours), (QList<qint64>{3, 1, 0, 1}));
        ActivityQuery days =
            chartQuery("2026-03-01 00:00:00", "2026-03-05 00:00:00", ActivityQuery::Bucket::Day);
        QCOMPARE(counts(days), (QList<qint64>{0, 5, 0, 1}));
        days.source = QStringLiteral("DOO");
        QCOMPARE(counts(days), (QList<qint64>{0, 3, 0, 1}));
        days.source.clear();
        days.data = QStringLiteral("on l");
        QCOMPARE(counts(days), (QList<qint64>{0, 1, 0, 0}));
        ActivityQuery weeks =
            chartQuery("2026-03-04 00:00:00", "2026-04-01 00:00:00", ActivityQuery::Bucket::Week);
        const Result<ActivityChart> byWeek = reader(store)->activity(weeks);
        QVERIFY(byWeek);
        QCOMPARE(byWeek.value().buckets.first().start, QStringLiteral("2026-03-02 00:00:00"));
        QCOMPARE(counts(weeks), (QList<qint64>{6, 1, 0, 1, 0}));
        // The hour a clock change skips in much of Europe keeps its event.
        ActivityQuery change =
            chartQuery("2026-03-29 00:00:00", "2026-03-29 04:00:00", ActivityQuery::Bucket::Hour);
        QCOMPARE(counts(change), (QList<qint64>{0, 0, 1, 0}));
        ActivityQuery minutes =
            chartQuery("2026-03-02 08:08:00", "2026-03-02 08:12:00", ActivityQuery::Bucket::Minute);
        int steps = 0;
        const Result<ActivityChart> byMinute =
            reader(store)->activity(minutes, [&](int, int) { return ++steps < 2; });
        QVERIFY(!byMinute);  // cancelled after its second step
        QCOMPARE(steps, 2);
        QCOMPARE(counts(minutes), (QList<qint64>{0, 0, 1, 0}));

        days.data.clear();
        days.to = QStringLiteral("2026-03-10 00:00:00");
        days.split = ActivityQuery::Split::Source;
        days.top = 1;
        const Result<ActivityChart> split = reader(store)->activity(days);
        QVERIFY(split);
        QCOMPARE(split.value().parts,
                 (QStringList{QStringLiteral("door"), QStringLiteral("other")}));
        QCOMPARE(split.value().buckets[1].parts, (QList<qint64>{3, 2}));
        QCOMPARE(split.value().buckets[8].parts, (QList<qint64>{0, 1}));
        ActivityQuery tooMany =
            chartQuery("2020-01-01 00:00:00", "2026-01-01 00:00:00", ActivityQuery::Bucket::Hour);
        QVERIFY(!reader(store)->activity(tooMany));
    }

    // A failed step while making the table is reported, not passed over.
    void aTableThatCannotBeMadeIsReported() {
        SQL_SERVER_OR_SKIP(e, serverEngine(freshTable()))
        const QString t = e->settings.table;
        // Another table holds the name of the new table's key already.
        QVERIFY(rawExec(
            *e, {QStringLiteral("CREATE TABLE ") + t + QStringLiteral("x (ID int CONSTRAINT [PK_") +
                 t + QStringLiteral("] PRIMARY KEY)")}));
        Store store;
        const auto p = store.open(e->settings);
        QVERIFY(p.create && !p.open);
        QCOMPARE(p.create->step, 4);
    }

    // A server that stops answering fails a write within the query timeout, and later writes at
    // once until the backoff delay has passed; then the store connects again by itself. A
    // connection ended under it, as by a restart, is the same.
    void aSilentOrLostServerFailsInTimeAndIsConnectedAgain() {
        SQL_SERVER_OR_SKIP(e, serverEngine(freshTable()))
        const QString port = ServerSource::parse(e->settings.sqlSource).port;
        Store store;
        store.open(e->settings);
        auto write = [&](const QString& data) {
            return store.insert(logEvent("2026-12-04 10:00:00", {}, {}, data));
        };
        QVERIFY(store.beginBatch());  // as the writer's passes do
        QVERIFY(write(QStringLiteral("1")));
        const QList<qint64> backends = ownBackends(port);
        QCOMPARE(backends.size(), 1);
        FrozenBackends frozen(backends);
        QElapsedTimer clock;
        clock.start();
        Status s = write(QStringLiteral("frozen"));
        frozen.resume();
        QVERIFY(!s && s.problem().passes());
        // The timeout, then as long again for the server to confirm the cancel.
        qInfo("a frozen server held the write %lld ms", qint64(clock.elapsed()));
        QVERIFY(clock.elapsed() < (2 * SqlServerProvider::kWriteTimeoutSeconds + 3) * 1000);
        clock.restart();
        QVERIFY(!write(QStringLiteral("waiting")));
        QVERIFY(clock.elapsed() < 500);
        QTest::qWait(SqlServerProvider::kFirstRetryMs + 200);
        // The frozen write may have been done once the server woke; made again, as the spool
        // makes it, it is stored once either way.
        QVERIFY(write(QStringLiteral("frozen")));
        QVERIFY(write(QStringLiteral("2")));

        signalAll(ownBackends(port), SIGTERM);
        s = write(QStringLiteral("lost"));
        QVERIFY2(!s && s.problem().passes(), qPrintable(s ? QString() : s.problem().description));
        QTest::qWait(SqlServerProvider::kFirstRetryMs + 200);
        QVERIFY(write(QStringLiteral("lost")));
        QVERIFY(write(QStringLiteral("3")));
        QVERIFY(store.endBatch());
        QCOMPARE(dataOf(store),
                 QStringList({QStringLiteral("1"), QStringLiteral("frozen"), QStringLiteral("2"),
                              QStringLiteral("lost"), QStringLiteral("3")}));
    }

    // The connection breaks after the server took a write and before its answer came: made again,
    // as the drainer makes it (the pass ended, the store opened again, the spool's first written),
    // the write is stored once; also while the session that took it is frozen and does it later.
    // Events and rule-logged messages alike.
    void aWriteWhoseAnswerWasLostIsStoredOnce_data() {
        QTest::addColumn<bool>("message");
        QTest::addColumn<bool>("frozen");
        QTest::newRow("event") << false << false;
        QTest::newRow("message") << true << false;
        QTest::newRow("event, old session frozen") << false << true;
    }
    void aWriteWhoseAnswerWasLostIsStoredOnce() {
        QFETCH(bool, message);
        QFETCH(bool, frozen);
        SQL_SERVER_OR_SKIP(server, serverThroughProxy())
        Engine* e = &server->engine;
        CuttingProxy& proxy = *server->proxy;
        const QString& port = server->serverPort;
        e->settings.messagesTable = e->settings.table + QStringLiteral("_msg");
        Store store;
        QVERIFY(!store.open(e->settings).open);
        const auto write = [&](const QString& data) {
            return message
                       ? store.insertMessage(LoggedMessage{QStringLiteral("2026-12-04 10:00:00"),
                                                           QStringLiteral("a.b.c"),
                                                           {},
                                                           QStringLiteral("xAPBSC.event"),
                                                           QStringLiteral("FF00AB01"),
                                                           data})
                       : store.insert(logEvent("2026-12-04 10:00:00", {}, {}, data));
        };
        const QString doubtful = QStringLiteral("answer lost");
        QVERIFY(store.beginBatch());
        QVERIFY(write(doubtful));  // an equal row before, which must not count as the lost one
        // Frozen as soon as the write reaches it, the session takes it after the check began.
        const QList<qint64> session = frozen ? ownBackends(port) : QList<qint64>();
        std::optional<FrozenBackends> stopped;
        // The server reads the values as UTF-16.
        proxy.cutAfter(
            QByteArray(reinterpret_cast<const char*>(doubtful.utf16()), doubtful.size() * 2), [&] {
                if (frozen) {
                    stopped.emplace(session);
                }
            });
        const Status lost = write(doubtful);
        QVERIFY(proxy.cut());
        QVERIFY2(!lost && lost.problem().passes(),
                 qPrintable(lost ? QStringLiteral("written") : lost.problem().description));
        QVERIFY(store.endBatch());
        QVERIFY(!store.isOpen());
        const Status reopened = store.reopen();
        if (frozen) {
            QVERIFY2(!reopened && reopened.problem().passes(),
                     qPrintable(reopened ? QStringLiteral("checked while the session was frozen")
                                         : reopened.problem().description));
            stopped.reset();
        } else {
            QVERIFY2(reopened, qPrintable(reopened ? QString() : reopened.problem().description));
        }
        QVERIFY(store.beginBatch());
        // Refused while the old session lives on; it ends soon after it was woken.
        Status again = write(doubtful);
        for (int i = 0; i < 100 && !again; ++i) {
            QTest::qWait(100);
            again = write(doubtful);
        }
        QVERIFY2(again, qPrintable(again ? QString() : again.problem().description));
        QVERIFY(write(QStringLiteral("after")));
        QVERIFY(store.endBatch());
        QStringList data;
        if (message) {
            QVERIFY(reader(store)->readMessages(
                {}, [&](const StoredMessage& m) { data.append(m.message.text); }));
        } else {
            data = dataOf(store);
        }
        QCOMPARE(data, QStringList({doubtful, doubtful, QStringLiteral("after")}));
    }

    // A read whose connection breaks under it fails as an outage, and the next read connects
    // again (the read's statement, freed after its connection, crashed the logger).
    void aReadThatLosesItsConnectionFails() {
        SQL_SERVER_OR_SKIP(server, serverThroughProxy())
        const Engine* e = &server->engine;
        CuttingProxy& proxy = *server->proxy;
        Store store;
        QVERIFY(!store.open(e->settings).open);
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, QStringLiteral("d"))));
        Store readerStore;
        QVERIFY(readerStore.openForReading(e->settings));
        const QString table = e->settings.table;
        proxy.cutAfter(QByteArray(reinterpret_cast<const char*>(table.utf16()), table.size() * 2));
        int rows = 0;
        const Status lost = readerStore.readEvents({}, [&](const StoredEvent&) { ++rows; });
        QVERIFY(proxy.cut());
        QVERIFY2(!lost && lost.problem().passes(),
                 qPrintable(lost ? QStringLiteral("read") : lost.problem().description));
        QTest::qWait(SqlServerProvider::kFirstRetryMs + 200);
        rows = 0;
        const Status again = readerStore.readEvents({}, [&](const StoredEvent&) { ++rows; });
        QVERIFY2(again, qPrintable(again ? QString() : again.problem().description));
        QCOMPARE(rows, 1);
    }

    // PostgreSQL stores a pass when its COPY ends; with the answer to that end lost, the pass is
    // neither lost nor stored twice, also while the old session has not finished it.
    void aPassWhoseAnswerWasLostIsStoredOnce_data() {
        QTest::addColumn<bool>("frozen");
        QTest::newRow("answer lost") << false;
        QTest::newRow("old session frozen") << true;
    }
    void aPassWhoseAnswerWasLostIsStoredOnce() {
        QFETCH(bool, frozen);
        if (!m_pg.running()) {
            QSKIP("needs PostgreSQL");
        }
        DatabaseSettings settings = m_pg.settings(QStringLiteral("quilljot_store"), freshTable());
        CuttingProxy proxy(m_pg.port.toUShort());
        settings.sqlSource.replace(u',' + m_pg.port, u',' + QString::number(proxy.port()));
        Store store;
        QVERIFY(!store.open(settings).open);
        QStringList data;
        for (int i = 0; i < 400; ++i) {  // more than a piece: the COPY is under way before the end
            data.append(QString::number(i).rightJustified(100, u'.'));
        }
        const QString last = QStringLiteral("answer lost");
        const auto write = [&](qsizetype from, qsizetype to) {
            for (qsizetype i = from; i < to; ++i) {
                QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, data[i])));
            }
        };
        QVERIFY(store.beginBatch());
        write(0, 350);
        std::optional<FrozenBackends> stopped;
        if (frozen) {
            stopped.emplace(ownBackends(m_pg.port));
        }
        data.append(last);
        proxy.cutAfter(last.toUtf8());
        write(350, data.size());
        const Status ended = store.endBatch();
        QVERIFY(proxy.cut());
        if (frozen) {
            QVERIFY2(!ended && ended.problem().passes(),
                     qPrintable(ended ? QStringLiteral("written") : ended.problem().description));
            stopped.reset();
            // The pass again, as the spool gives it back.
            QVERIFY(store.beginBatch());
            write(0, data.size());
            QVERIFY(store.endBatch());
        } else {
            QVERIFY2(ended, qPrintable(ended ? QString() : ended.problem().description));
        }
        QCOMPARE(dataOf(store), data);
    }

    void aPasswordWithASemicolonSignsIn() {
        SQL_SERVER_OR_SKIP(e, serverEngine(freshTable()))
        // Made once per server; an existing login is kept.
        rawExec(*e, {QStringLiteral("CREATE LOGIN qj_semicolon WITH PASSWORD = 'Semi;colon1'")});
        QVERIFY(
            rawExec(*e, {QStringLiteral("ALTER SERVER ROLE sysadmin ADD MEMBER qj_semicolon")}));
        const ServerSource source = ServerSource::parse(e->settings.sqlSource);
        DatabaseSettings settings = e->settings;
        settings.sqlSource = source.host + u',' + source.port +
                             QStringLiteral("; User ID=qj_semicolon; Password={Semi;colon1}");
        Store store;
        const auto p = store.open(settings);
        QVERIFY2(!p.open, qPrintable(p.open ? p.open->description : QString()));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, QStringLiteral("d"))));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
