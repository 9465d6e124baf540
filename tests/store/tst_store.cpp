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
#include <mutex>
#include <thread>

#include "ServerBackends.h"
#include "TestEngines.h"
#include "store/EventExport.h"
#include "store/ServerSource.h"
#include "store/Spool.h"
#include "store/SqlServerProvider.h"
#include "store/Store.h"

namespace {

using Engine = TestEngine;

// Each case gets a table of its own, so that server engines start from nothing too.
QString freshTable() {
    static int n = 0;
    return u"tblStoreTest"_qs + QString::number(QDateTime::currentMSecsSinceEpoch() % 100000) +
           u'_' + QString::number(++n);
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

LogEvent logEvent(const char* time, const QString& source, const QString& type,
                  const QString& data) {
    return LogEvent{QString::fromLatin1(time), source, type, data};
}

// Runs one statement on a SQLite file with a connection of the test's own; the first column of
// each row it returns, or nothing when it fails.
std::optional<QStringList> sqliteExec(const QString& path, const QString& sql) {
    std::optional<QStringList> out;
    {
        auto db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"side"_qs);
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(sql)) {
            out.emplace();
            while (q.next()) {
                out->append(q.value(q.record().count() - 1).toString());
            }
        }
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(u"side"_qs);
    return out;
}

}  // namespace

class StoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    PostgresServer m_pg;

    void addEngineColumn() {
        QTest::addColumn<int>("engine");
        const auto list = testEngines(m_dir.path(), QString(), m_pg);
        for (int i = 0; i < list.size(); ++i) {
            QTest::newRow(qPrintable(list[i].name)) << i;
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
    // A statement on the test server, on a connection of its own.
    static bool serverExec(const Engine& e, const QString& sql) {
        bool ok = false;
        {
            auto db = QSqlDatabase::addDatabase(u"QODBC"_qs, u"direct"_qs);
            db.setDatabaseName(
                SqlServerProvider::odbcText(ServerSource::parse(e.settings.sqlSource),
                                            e.settings.database, SqlServerProvider::driverName()));
            if (db.open()) {
                QSqlQuery q(db);
                q.setForwardOnly(true);
                ok = q.exec(sql);
                if (!ok) {
                    qWarning() << q.lastError().text();
                }
            }
        }
        QSqlDatabase::removeDatabase(u"direct"_qs);
        return ok;
    }
    Engine engine(int i, const QString& table) {
        QDir().mkpath(m_dir.path() + u"/Data"_qs);  // the logger makes the folder, not the store
        return testEngines(m_dir.path(), table, m_pg)[i];
    }

    // Statements on the engine's database, each on its own, on a connection of the test's own.
    bool rawExec(const Engine& e, const QStringList& statements) {
        for (const QString& sql : statements) {
            bool ok = false;
            switch (e.settings.kind) {
                case DatabaseKind::File:
                    ok = sqliteExec(e.settings.database, sql).has_value();
                    break;
                case DatabaseKind::PostgreSql: {
                    QSqlQuery q(pgAdmin());
                    ok = q.exec(sql);
                    break;
                }
                case DatabaseKind::SqlServer:
                    ok = serverExec(e, sql);
                    break;
            }
            if (!ok) {
                qWarning() << "failed:" << sql;
                return false;
            }
        }
        return true;
    }

    // A superuser's connection to the store's PostgreSQL database, on the socket.
    QSqlDatabase pgAdmin() {
        auto db = QSqlDatabase::database(u"pgadmin"_qs, false);
        if (!db.isValid()) {
            db = QSqlDatabase::addDatabase(u"QPSQL"_qs, u"pgadmin"_qs);
            db.setHostName(m_pg.socketFolder);
            db.setPort(m_pg.port.toInt());
            db.setDatabaseName(u"quilljot_store"_qs);
        }
        db.open();
        return db;
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
    void createsDatabaseAndTableAndKeepsRowsAcrossOpens_data() { addEngineColumn(); }
    void createsDatabaseAndTableAndKeepsRowsAcrossOpens() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        {
            Store store;
            const Store::OpenProblems p = store.open(e.settings);
            QVERIFY2(!p.create && !p.open, qPrintable(p.create ? p.create->description
                                                      : p.open ? p.open->description
                                                               : QString()));
            QVERIFY(store.isOpen());
            const Status written =
                store.insert(logEvent("2026-12-04 23:13:09", u"a.b.c"_qs, u"t"_qs, u"d"_qs));
            QVERIFY2(written, qPrintable(written ? QString() : written.problem().description));
        }
        Store again;
        again.open(e.settings);
        const auto rows = history(again);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].event, logEvent("2026-12-04 23:13:09", u"a.b.c"_qs, u"t"_qs, u"d"_qs));
    }

    // A file that cannot be made says so once, with the system's reason.
    void aDatabaseFileThatCannotBeMadeSaysWhy() {
        QTemporaryDir dir;
        DatabaseSettings settings;
        settings.database = dir.path() + u"/no/such/folder/x.db"_qs;
        settings.table = u"tblQuilljot"_qs;
        Store store;
        const Store::OpenProblems p = store.open(settings);
        QVERIFY(p.create);
        QVERIFY2(p.create->description.endsWith(
                     u": unable to open database file (No such file or directory)"_qs),
                 qPrintable(p.create->description));
    }

    void textsAreStoredAsBoundValuesWithTheEnginesQuoteRule_data() { addEngineColumn(); }
    void textsAreStoredAsBoundValuesWithTheEnginesQuoteRule() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        Store store;
        store.open(e.settings);
        const QStringList hostile = {
            u"x\"; DROP TABLE t; --"_qs,
            u"'); DELETE FROM t; --"_qs,
            u"#2026-01-01# \" || (SELECT 1) || \"?"_qs,
            u"line one\r\nline two\ttab %_ \\"_qs,
            u"\\N\n\\.\n\\\\t\\"_qs,  // markers and escapes of bulk-load text formats
            QString(70000, u'L'),
        };
        QVERIFY(store.beginBatch());
        for (const QString& h : hostile) {
            QVERIFY(store.insert(
                logEvent("2026-12-04 23:13:09", u"a.b."_qs + h.left(200), h.left(200), h)));
        }
        QVERIFY(store.endBatch());
        const auto rows = history(store);
        QCOMPARE(rows.size(), hostile.size());
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
        QVERIFY(store.insert(
            logEvent("2026-12-04 10:00:00", u"hs.den"_qs, u"Log"_qs, u"Door open"_qs)));
        QVERIFY(
            store.insert(logEvent("2026-11-01 10:00:00", u"hs.den"_qs, u"Log"_qs, u"too old"_qs)));
        QVERIFY(store.insert(
            logEvent("2026-12-03 09:00:00", u"zel.hall"_qs, u"Status"_qs, u"21.5 C"_qs)));
        QVERIFY(store.insert(
            logEvent("2026-12-05 00:00:00", u"hs.den"_qs, u"Device"_qs, u"O'Neil's lamp"_qs)));
        auto filtered = [](QString source, QString type, QString data) {
            EventQuery q;
            q.from = u"2026-11-28 00:00:00"_qs;
            q.order = EventQuery::Order::Ascending;
            q.source = source;
            q.type = type;
            q.data = data;
            return q;
        };
        auto data = [&](const EventQuery& q) {
            QStringList out;
            for (const StoredEvent& r : history(store, q)) {
                out.append(r.event.data);
            }
            return out;
        };
        const QString lamp =
            QString(u"O'Neil's lamp"_qs).replace(e.storedQuote[0], e.storedQuote[1]);
        QCOMPARE(data(filtered({}, {}, {})), QStringList({u"21.5 C"_qs, u"Door open"_qs, lamp}));
        QCOMPARE(data(filtered(u"DEN"_qs, {}, {})).size(), 2);
        QCOMPARE(data(filtered({}, u"status"_qs, {})), QStringList({u"21.5 C"_qs}));
        QCOMPARE(data(filtered(u"hs."_qs, u"log"_qs, u"door"_qs)), QStringList({u"Door open"_qs}));
        // A filter with an apostrophe is a value like any other.
        QCOMPARE(data(filtered({}, {}, lamp.left(6))), QStringList({lamp}));
        EventQuery range = filtered({}, {}, {});
        range.to = u"2026-12-05 00:00:00"_qs;  // the first time no longer taken
        QCOMPARE(data(range), QStringList({u"21.5 C"_qs, u"Door open"_qs}));
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
        const QString sources[] = {u"b"_qs, u"A"_qs, QString(), u"a"_qs, u"c"_qs};
        for (int i = 0; i < 23; ++i) {
            const QString time = u"2026-12-0"_qs + QString::number(1 + i / 5) + u" 10:00:0"_qs +
                                 QString::number(i % 5 / 2);
            QVERIFY(store.insert(LogEvent{time, sources[i % 5], u"Log"_qs, QString::number(i)}));
        }
        QVERIFY(store.endBatch());
        const QList<StoredEvent> rows = history(store);
        QCOMPARE(rows.size(), 23);
        QList<StoredEvent> bySource = rows;
        std::stable_sort(bySource.begin(), bySource.end(), [](const auto& a, const auto& b) {
            return a.event.source.toLower() < b.event.source.toLower();
        });
        auto dataOf = [](const QList<StoredEvent>& list, bool reversed) {
            QStringList out;
            for (const StoredEvent& r : list) {
                reversed ? out.prepend(r.event.data) : out.append(r.event.data);
            }
            return out;
        };
        for (const auto column : {EventQuery::Column::Time, EventQuery::Column::Source}) {
            for (const auto order : {EventQuery::Order::Descending, EventQuery::Order::Ascending}) {
                const QStringList expected =
                    dataOf(column == EventQuery::Column::Time ? rows : bySource,
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
        q.data = u"1"_qs;
        QCOMPARE(reader(store)->countEvents(q).value(), 12);  // 1, 10..19, 21
    }

    // Pages of the export join without a gap or a repeat. (What the texts become is the export
    // command's test.)
    void exportPagesJoinWithoutAGapOrARepeat() {
        QDir().mkpath(m_dir.path() + u"/Data"_qs);
        Store store;
        QVERIFY(!store
                     .open(DatabaseSettings{
                         DatabaseKind::File, {}, m_dir.path() + u"/Data/export.mdb"_qs, u"t"_qs})
                     .open);
        QVERIFY(store.beginBatch());
        for (int i = 0; i < 5003; ++i) {
            QVERIFY(store.insert(
                LogEvent{u"2026-12-02 00:00:00"_qs, u"s"_qs, u"t"_qs, QString::number(i)}));
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

    // The history query of the file database reads the time index, without a sort of its own;
    // also on a table made before the index existed.
    void fileHistoryUsesTheTimeIndex() {
        const QString path = m_dir.path() + u"/Data/indexed.mdb"_qs;
        QDir().mkpath(m_dir.path() + u"/Data"_qs);
        QVERIFY(sqliteExec(path,
                           u"CREATE TABLE tblOld (ID INTEGER PRIMARY KEY, SampleDate, "
                           "Source, Category, Data)"_qs));
        Store store;
        QVERIFY(!store.open(DatabaseSettings{DatabaseKind::File, {}, path, u"tblOld"_qs}).open);
        EventQuery q;
        q.from = u"2026-12-01 00:00:00"_qs;
        q.to = u"2026-12-08 00:00:00"_qs;
        q.source = u"a"_qs;
        for (const EventQuery::Order order :
             {EventQuery::Order::Descending, EventQuery::Order::Ascending}) {
            q.order = order;
            q.after = 1234;
            q.limit = 100;
            // The values written in: the test's side connection runs statements unprepared.
            const EventSelect select = EventSelects::rows({u"tblOld"_qs}, q, u"2026-12-04"_qs);
            QString sql = select.sql;
            for (const QString& value : select.values) {
                sql.replace(sql.indexOf(u'?'), 1, u'\'' + value + u'\'');
            }
            const QString plan = sqliteExec(path, u"EXPLAIN QUERY PLAN "_qs + sql)
                                     .value_or(QStringList())
                                     .join(u'\n');
            QVERIFY2(plan.contains(u"USING INDEX tblOld_SampleDate"_qs), qPrintable(plan));
            QVERIFY2(!plan.contains(u"TEMP B-TREE"_qs), qPrintable(plan));
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
            const QString time = u"2026-11-%1 12:00:00"_qs.arg(day, 2, 10, QChar(u'0'));
            QVERIFY(store.insert(LogEvent{time, u"old"_qs, u"t"_qs, QString::number(day)}));
        }
        for (const char* time : {"2026-11-30 23:59:59", "2026-12-01 00:00:00", "2026-12-05"}) {
            QVERIFY(store.insert(logEvent(time, u"new"_qs, u"t"_qs, u"d"_qs)));
        }
        const qint64 lastKey = history(store).last().id;
        const QString limit = u"2026-12-01 00:00:00"_qs;
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

        QCOMPARE(store.deleteRowsBefore(Table::Events, u"2027-01-01 00:00:00"_qs, 100).value(), 2);
        QVERIFY(store.insert(logEvent("2026-12-06 08:00:00", u"after"_qs, u"t"_qs, u"d"_qs)));
        QVERIFY(history(store).value(0).id > lastKey);
    }

    // The messages table is made beside the event table, keeps whole texts, is read by source
    // in the order of arrival, page by page, and purged like the event table.
    void messagesTableIsWrittenReadAndPurged_data() { addEngineColumn(); }
    void messagesTableIsWrittenReadAndPurged() {
        QFETCH(int, engine);
        Engine e = this->engine(engine, freshTable());
        e.settings.messagesTable = e.settings.table + u"_msg"_qs;
        Store store;
        const Store::OpenProblems opened = store.open(e.settings);
        QVERIFY2(!opened.create && !opened.open,
                 qPrintable(opened.create ? opened.create->description : QString()));
        const QString text =
            u"xap-header\n{\nclass=xAPBSC.event\n}\nx\n{\nname=Küche \"1\"\n}\n"_qs;
        QList<LoggedMessage> sent;
        for (int i = 0; i < 5; ++i) {
            sent.append(LoggedMessage{u"2026-12-0%1 10:00:00"_qs.arg(i + 1),
                                      i % 2 ? u"acme.lights.hall"_qs : u"acme.lights.kitchen"_qs,
                                      i == 0 ? QString() : u"zel.x.y"_qs, u"xAPBSC.event"_qs,
                                      u"FF00AB01"_qs, text});
            QVERIFY(store.insertMessage(sent.last()));
        }
        MessageQuery q;
        q.source = u"KITCHEN"_qs;
        q.limit = 2;
        QList<StoredMessage> read;
        const auto messages = reader(store);
        QVERIFY(messages->readMessages(q, [&](const StoredMessage& m) { read.append(m); }));
        q.after = read.last().id;
        QVERIFY(messages->readMessages(q, [&](const StoredMessage& m) { read.append(m); }));
        QCOMPARE(read.size(), 3);
        QCOMPARE(read[0].message, sent[0]);
        QCOMPARE(read[2].message, sent[4]);
        QCOMPARE(
            store.deleteRowsBefore(StoreProvider::Table::Messages, u"2026-12-03 00:00:00"_qs, 10)
                .value(),
            2);
        read.clear();
        QVERIFY(messages->readMessages({}, [&](const StoredMessage& m) { read.append(m); }));
        QCOMPARE(read.size(), 3);
        QCOMPARE(read[0].message.time, u"2026-12-03 10:00:00"_qs);
    }

    // A new file database gives the space of purged rows back to the file system.
    void aNewFileDatabaseGivesPurgedSpaceBack() {
        const QString path = m_dir.path() + u"/Data/shrinks.mdb"_qs;
        QDir().mkpath(m_dir.path() + u"/Data"_qs);
        const DatabaseSettings settings{DatabaseKind::File, {}, path, u"tblQuilljot"_qs};
        Store store;
        const Store::OpenProblems opened = store.open(settings);
        QVERIFY(!opened.open && !opened.create);
        QVERIFY(store.beginBatch());
        const QString data(2000, u'x');
        for (int i = 0; i < 5000; ++i) {
            QVERIFY(store.insert(LogEvent{u"2026-11-01 00:00:00"_qs, u"s"_qs, u"t"_qs, data}));
        }
        QVERIFY(store.endBatch());
        QVERIFY(store.releaseSpace(100).ok());  // checkpoints nothing yet: nothing is free
        const qint64 full = QFileInfo(path).size();
        while (
            store.deleteRowsBefore(StoreProvider::Table::Events, u"2026-12-01"_qs, 1000).value() >
            0) {
        }
        int steps = 0;
        for (Result<bool> more = true; more && more.value(); ++steps) {
            more = store.releaseSpace(500);
            QVERIFY(more);
        }
        QVERIFY(steps > 1);
        QVERIFY2(QFileInfo(path).size() < full / 10,
                 qPrintable(u"%1 of %2"_qs.arg(QFileInfo(path).size()).arg(full)));
    }

    // File database: a refused row leaves its neighbours in the same batch.
    void aRefusedRowInABatchLeavesItsNeighbours() {
        const QString path = m_dir.path() + u"/Data/check.mdb"_qs;
        QDir().mkpath(m_dir.path() + u"/Data"_qs);
        // An existing table in another letter case, with a rule of its own, is used as it is.
        QVERIFY(sqliteExec(path,
                           u"CREATE TABLE TBLCHECK (ID INTEGER PRIMARY KEY, SampleDate, "
                           "Source, Category, Data CHECK (Data <> 'bad'))"_qs));
        Store store;
        store.open(DatabaseSettings{DatabaseKind::File, {}, path, u"tblCheck"_qs});
        QVERIFY(store.beginBatch());
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, u"x"_qs)));
        QVERIFY(!store.insert(logEvent("2026-12-04 10:00:01", {}, {}, u"bad"_qs)));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:02", {}, {}, u"y"_qs)));
        QVERIFY(store.endBatch());
        QCOMPARE(history(store).size(), 2);
    }

    void aForeignFileIsRefusedAndLeftUntouched() {
        const QString path = m_dir.path() + u"/Data/old.mdb"_qs;
        QDir().mkpath(m_dir.path() + u"/Data"_qs);
        QByteArray jet(4096, '\0');
        jet.replace(4, 15, "Standard Jet DB");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(jet);
        }
        Store store;
        const auto p = store.open(DatabaseSettings{DatabaseKind::File, {}, path, u"t"_qs});
        QVERIFY(p.open && p.open->description.contains(path + u" is not a SQLite database"_qs));
        QVERIFY(!store.isOpen());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), jet);
        QVERIFY(!QFileInfo::exists(path + u"-wal"_qs));
    }

    // The file moved away mid-batch: its rows stay in it, and the store closes.
    void aDatabaseReplacedWhileOpenKeepsItsRows() {
        const QString path = m_dir.path() + u"/Data/moving.mdb"_qs;
        Store store;
        store.open(DatabaseSettings{DatabaseKind::File, {}, path, u"t"_qs});
        QVERIFY(store.beginBatch());
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, u"1"_qs)));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:01", {}, {}, u"2"_qs)));
        const QString moved = m_dir.path() + u"/Data/moved.mdb"_qs;
        QVERIFY(QFile::rename(path, moved));
        QVERIFY(QDir().mkdir(path));  // a folder where the file was
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:02", {}, {}, u"3"_qs)));
        QVERIFY(store.endBatch());  // committed, into the file that moved
        QVERIFY(!store.isOpen());
        const Status s = store.insert(logEvent("2026-12-04 10:00:03", {}, {}, u"4"_qs));
        QVERIFY(!s);
        QCOMPARE(s.problem().number, ErrorNumber::DatabaseUnavailable);
        QVERIFY2(s.problem().description.contains(u"was removed or replaced while open"_qs) &&
                     s.problem().description.contains(u"The last 3 rows went to the file"_qs),
                 qPrintable(s.problem().description));
        QCOMPARE(QFileInfo(path + u"-wal"_qs).size(), 0);  // nothing left to replay
        Store reopened;
        reopened.open(DatabaseSettings{DatabaseKind::File, {}, moved, u"t"_qs});
        QCOMPARE(history(reopened).size(), 3);
    }

    // A pass with a row the server refuses, whose connection the server ends while the pass is
    // sent: it is sent again on a new connection, refused for that row and undone. Written again
    // (as the spool does), that row alone is refused, as its own write, and the rest kept in
    // order. An existing table in another letter case is used as it is, and gets the time index.
    // Two loggers (two sites) start at the same moment on a server database that does not exist
    // yet: both make it, write and purge their old rows at the same time without an error, and
    // no row is lost.
    void twoLoggersStartTogetherOnANewDatabase_data() {
        QTest::addColumn<int>("engine");
        const auto list = testEngines(m_dir.path(), QString(), m_pg);
        for (int i = 0; i < list.size(); ++i) {
            if (list[i].settings.kind != DatabaseKind::File) {
                QTest::newRow(qPrintable(list[i].name)) << i;
            }
        }
        if (list.size() < 3) {
            qInfo("a server engine is not there to test (QUILLJOT_TEST_MSSQL, PostgreSQL)");
        }
    }
    void twoLoggersStartTogetherOnANewDatabase() {
        QFETCH(int, engine);
        DatabaseSettings settings = this->engine(engine, u"tblQuilljot"_qs).settings;
        settings.database = u"QjTwo"_qs + QString::number(QDateTime::currentMSecsSinceEpoch());
        constexpr int kRows = 60;
        std::barrier together(2);
        std::mutex lock;
        QStringList problems;
        const auto site = [&](const QString& name) {
            const auto failed = [&](const QString& what, const std::optional<Problem>& p) {
                if (p) {
                    const std::lock_guard hold(lock);
                    problems.append(name + u' ' + what + u": "_qs + p->description);
                }
            };
            Store store;
            together.arrive_and_wait();
            const Store::OpenProblems opened = store.open(settings);
            failed(u"create"_qs, opened.create);
            failed(u"open"_qs, opened.open);
            for (int pass = 0; pass < 3; ++pass) {
                failed(u"begin"_qs, store.beginBatch().optional());
                for (int i = 0; i < kRows / 3; ++i) {
                    // Half of the rows old enough to be purged.
                    const QString time =
                        (i % 2 ? u"2026-11-01 10:00:%1"_qs : u"2026-12-05 10:00:%1"_qs)
                            .arg(i, 2, 10, QChar(u'0'));
                    failed(u"insert"_qs,
                           store.insert(LogEvent{time, name, u"t"_qs, QString::number(pass)})
                               .optional());
                }
                failed(u"end"_qs, store.endBatch().optional());
            }
            failed(
                u"message"_qs,
                store.insertMessage(LoggedMessage{u"2026-11-01 00:00:00"_qs, name, {}, {}, {}, {}})
                    .optional());
            together.arrive_and_wait();
            for (int gone = -1; gone != 0;) {
                const Result<int> r =
                    store.deleteRowsBefore(StoreProvider::Table::Events, u"2026-12-01"_qs, 7);
                failed(u"purge"_qs, r ? std::nullopt : std::optional(r.problem()));
                gone = r ? r.value() : 0;
            }
        };
        std::thread first(site, u"site1"_qs);
        std::thread second(site, u"site2"_qs);
        first.join();
        second.join();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        Store store;
        QVERIFY(store.openForReading(settings));
        EventQuery all;
        all.to = u"2100-01-01"_qs;
        QCOMPARE(store.countEvents(all).value(), kRows);  // the new half of both sites
        for (const char* name : {"site1", "site2"}) {
            all.source = QLatin1String(name);
            QCOMPARE(store.countEvents(all).value(), kRows / 2);
        }
        int messages = 0;
        QVERIFY(store.readMessages({}, [&](const StoredMessage&) { ++messages; }));
        QCOMPARE(messages, 2);
    }

    void postgresPassWithARefusedRowAndALostConnection() {
        if (!m_pg.running()) {
            QSKIP("no PostgreSQL server");
        }
        Store store;
        QVERIFY(!store.open(m_pg.settings(u"quilljot_store"_qs, u"tblFirst"_qs)).open);
        QSqlQuery admin(pgAdmin());
        QVERIFY(
            admin.exec(u"CREATE TABLE \"TBLCHECK\" (ID serial PRIMARY KEY, SampleDate timestamp, "
                       "Source text, Category text, Data text CHECK (Data <> 'bad'));"
                       "ALTER TABLE \"TBLCHECK\" OWNER TO quilljot"_qs));
        QVERIFY(!store.open(m_pg.settings(u"quilljot_store"_qs, u"tblCheck"_qs)).open);
        QList<LogEvent> pass;
        // Rows long enough to be sent before the pass ends: the first on the connection that
        // then ends, the last into it afterwards.
        const QString x = u"x"_qs + QString(40000, u'.');
        const QString z = u"z"_qs + QString(40000, u'.');
        for (const QString& data : {x, u"bad"_qs, u"y"_qs, u"bad"_qs, z}) {
            pass.append(logEvent("2026-12-04 10:00:00", {}, {}, data));
        }
        QVERIFY(store.beginBatch());
        for (const LogEvent& e : pass.first(4)) {
            QVERIFY(store.insert(e));
        }
        QVERIFY(
            admin.exec(u"SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                       "WHERE application_name = 'quilljot'"_qs));
        QVERIFY(store.insert(pass[4]));
        const Status sent = store.endBatch();
        QVERIFY(!sent);
        QCOMPARE(sent.problem().number, ErrorNumber::Database);
        QVERIFY2(sent.problem().description.startsWith(u"2 of the 5 rows"_qs),
                 qPrintable(sent.problem().description));
        QVERIFY(history(store).isEmpty());

        QStringList refused;
        QVERIFY(store.beginBatch());
        for (const LogEvent& e : pass) {
            const Status written = store.insert(e);
            if (!written) {
                QCOMPARE(written.problem().number, ErrorNumber::Database);
                refused.append(e.data);
            }
        }
        QVERIFY(store.endBatch());
        QCOMPARE(refused, QStringList({u"bad"_qs, u"bad"_qs}));
        QStringList data;
        for (const StoredEvent& r : history(store)) {
            data.append(r.event.data);
        }
        QCOMPARE(data, QStringList({x, u"y"_qs, z}));
        QVERIFY(
            admin.exec(u"SELECT count(*) FROM pg_indexes WHERE indexdef ILIKE "
                       "'%(sampledate)' AND tablename IN ('TBLCHECK', 'tblfirst')"_qs));
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
            const auto p = store.open(m_pg.settings(u"PeerLog"_qs, u"t"_qs, true));
            QVERIFY2(!p.create && !p.open, qPrintable(p.create ? p.create->description
                                                      : p.open ? p.open->description
                                                               : QString()));
            QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, u"peer"_qs)));
            QCOMPARE(history(store).size(), 1);
        }
        DatabaseSettings wrong = m_pg.settings(u"PeerLog"_qs, u"t"_qs);
        wrong.sqlSource.replace(m_pg.password, u"Wr0ng-S3cret"_qs);
        Store store;
        const auto p = store.open(wrong);
        QVERIFY(p.create && p.open);
        QCOMPARE(p.create->step, 3);
        for (const Problem& problem : {*p.create, *p.open}) {
            QVERIFY2(problem.description.startsWith(u"Cannot connect to PostgreSQL 127.0.0.1,"_qs),
                     qPrintable(problem.description));
            QVERIFY(!problem.description.contains(u"Wr0ng-S3cret"_qs));
        }
    }

    void serverSourcesAndMaskedPasswords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("parts");  // host, port, user, password
        QTest::newRow("host and port")
            << u"sqlhost,1433"_qs << QStringList{u"sqlhost"_qs, u"1433"_qs, {}, {}};
        QTest::newRow("login") << u" sqlhost ; User ID = logger; Password=s3cret"_qs
                               << QStringList{u"sqlhost"_qs, {}, u"logger"_qs, u"s3cret"_qs};
        QTest::newRow("braced password with ;")
            << u"h,1; User ID=a; Password={Semi;colon1}"_qs
            << QStringList{u"h"_qs, u"1"_qs, u"a"_qs, u"Semi;colon1"_qs};
        QTest::newRow("connection string")
            << u"Provider = sqloledb; Data Source =127.0.0.1,14330; User ID=u; Password=p; "
               "Initial Catalog=Q"_qs
            << QStringList{u"127.0.0.1"_qs, u"14330"_qs, u"u"_qs, u"p"_qs};
    }
    void serverSourcesAndMaskedPasswords() {
        QFETCH(QString, text);
        QFETCH(QStringList, parts);
        const ServerSource s = ServerSource::parse(text);
        QCOMPARE((QStringList{s.host, s.port, s.userId, s.password}), parts);
        if (!s.password.isEmpty()) {
            QVERIFY(!ServerSource::redactedSource(text).contains(s.password));
            const QString odbc = SqlServerProvider::odbcText(s, u"Home"_qs, u"FreeTDS"_qs);
            QVERIFY2(odbc.endsWith(u';') && odbc.contains(u"PWD={"_qs + s.password + u'}'),
                     qPrintable(odbc));
        }
    }

    // No SQL Server needed. A server that takes the connection and never answers, and one that
    // refuses it: the open fails within the login timeout, once, as a failure that may pass,
    // named clearly and without the password; writes fail the same way and do not wait.
    void silentOrAbsentServerFailsOnceAndInTime() {
        QVERIFY2(QSqlDatabase::isDriverAvailable(u"QODBC"_qs),
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
        for (const QString& port : {QString::number(ntohs(address.sin_port)), u"1"_qs}) {
            QElapsedTimer clock;
            clock.start();
            Store store;
            const auto p = store.open(
                DatabaseSettings{DatabaseKind::SqlServer,
                                 u"127.0.0.1,"_qs + port + u"; User ID=sa; Password=S3cret-Pw"_qs,
                                 u"none"_qs, u"t"_qs});
            QVERIFY(clock.elapsed() < (SqlServerProvider::kLoginTimeoutSeconds + 3) * 1000);
            QVERIFY2(!p.create && p.open, qPrintable(p.create ? p.create->description : port));
            QCOMPARE(p.open->number, ErrorNumber::DatabaseUnavailable);
            QVERIFY2(p.open->description.startsWith(u"Cannot connect to SQL Server 127.0.0.1,"_qs +
                                                    port),
                     qPrintable(p.open->description));
            QVERIFY(!p.open->description.contains(u"S3cret"_qs));
            clock.restart();
            const Status s = store.insert(logEvent("2026-12-04 10:00:00", {}, {}, {}));
            QVERIFY(!s && s.problem().number == ErrorNumber::DatabaseUnavailable);
            QVERIFY(clock.elapsed() < 500);
        }
    }

    // What one run spooled, the next finds in order; what was written is not read again, even
    // when the run ended without a word.
    void spoolKeepsOrderAcrossRunsAndForgetsWhatWasWritten() {
        const QString folder = m_dir.path() + u"/spool-runs"_qs;
        {
            Spool spool(folder, u"events"_qs, 1 << 20);
            QVERIFY(spool.open());
            for (int i = 0; i < 5; ++i) {
                QVERIFY(spool.append({u"s"_qs, QString(), u"d \"'\u65e5"_qs + QString::number(i)}));
            }
            QVERIFY(spool.sync());
            QCOMPARE(spool.peek(2).value().size(), 2);
            QVERIFY(spool.consume(2));
        }
        Spool again(folder, u"events"_qs, 1 << 20);
        QCOMPARE(again.open().value().records, 3);
        const QList<QStringList> left = again.peek(10).value();
        QCOMPARE(left.size(), 3);
        QCOMPARE(left[0], (QStringList{u"s"_qs, QString(), u"d \"'\u65e52"_qs}));
        QVERIFY(again.consume(3));
        QVERIFY(again.isEmpty());
        QVERIFY(!QFileInfo::exists(again.path()));
    }

    // A torn last record (a crash in the middle of a write) and a damaged one are cut, counted,
    // and never read as events; the records around them are.
    void spoolCutsTornAndDamagedRecords() {
        const QString folder = m_dir.path() + u"/spool-damage"_qs;
        {
            Spool spool(folder, u"events"_qs, 1 << 20);
            QVERIFY(spool.open());
            for (int i = 0; i < 4; ++i) {
                QVERIFY(spool.append({u"2026-12-04 10:00:00"_qs, u"s"_qs, QString::number(i)}));
            }
        }
        QFile file(folder + u"/events.spool"_qs);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const qsizetype second = bytes.indexOf("qjs1", 1);
        bytes[second + 20] = char(bytes[second + 20] ^ 0x40);  // one bit of the second record
        bytes.chop(3);                                         // and the last one torn
        file.resize(0);
        file.write(bytes);
        file.close();
        Spool spool(folder, u"events"_qs, 1 << 20);
        const Result<Spool::Recovered> found = spool.open();
        QVERIFY(found);
        QCOMPARE(found.value().records, 2);
        QVERIFY(found.value().cutBytes > 0);
        const QList<QStringList> left = spool.peek(10).value();
        QCOMPARE(left.size(), 2);
        QCOMPARE(left[0].last(), u"0"_qs);
        QCOMPARE(left[1].last(), u"2"_qs);
        // Appends go on after the good records.
        QVERIFY(spool.append({u"4"_qs}));
        QCOMPARE(spool.peek(10).value().last(), QStringList{u"4"_qs});
    }

    void spoolRefusesWhatPassesItsLimit() {
        Spool spool(m_dir.path() + u"/spool-full"_qs, u"events"_qs, 1000);
        QVERIFY(spool.open());
        int kept = 0;
        int full = 0;
        for (int i = 0; i < 40; ++i) {
            const auto r = spool.append({u"s"_qs, QString(50, u'x')});
            QVERIFY(r);
            (r.value() == Spool::Appended::Kept ? kept : full) += 1;
        }
        QCOMPARE(kept + full, 40);
        QCOMPARE(spool.waiting(), kept);
        QVERIFY(kept > 5 && full > 0);
        QVERIFY(QFileInfo(spool.path()).size() <= 1000);
    }

    void unicodeTextAndEarlyDatesComeBackWhole_data() { addEngineColumn(); }
    void unicodeTextAndEarlyDatesComeBackWhole() {
        QFETCH(int, engine);
        const Engine e = this->engine(engine, freshTable());
        Store store;
        store.open(e.settings);
        const QString text = u"日本語 ✓ 😀 Ωλ"_qs;
        QVERIFY(store.beginBatch());
        QVERIFY(store.insert(logEvent("1700-02-03 04:05:06", u"a.日本.c"_qs, text, text)));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", u"a.b.c"_qs, u"t"_qs, u"d"_qs)));
        QVERIFY(store.endBatch());
        EventQuery q;
        q.from = u"1600-01-01 00:00:00"_qs;
        q.source = u"日本"_qs;
        q.type = u"✓ 😀"_qs;
        q.data = u"Ωλ"_qs;
        const auto rows = history(store, q);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].event, logEvent("1700-02-03 04:05:06", u"a.日本.c"_qs, text, text));
    }

    // A lone surrogate half has no UTF-8: the file database keeps a "?" for it, as it always did,
    // beside a text that grew and shrank the bound values.
    void aLoneSurrogateHalfIsStoredAsAQuestionMark() {
        QDir().mkpath(m_dir.path() + u"/Data"_qs);
        Store store;
        store.open(
            DatabaseSettings{DatabaseKind::File, {}, m_dir.path() + u"/Data/half.mdb"_qs, u"t"_qs});
        const QString half(QChar(0xD800));
        QVERIFY(
            store.insert(logEvent("2026-12-04 10:00:00", u"a"_qs, u"t"_qs, QString(5000, u'é'))));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:01", u"a.b"_qs + half, half + u'"',
                                      u"x"_qs + half + u"y"_qs)));
        const auto rows = history(store);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].event.data, QString(5000, u'é'));
        QCOMPARE(rows[1].event, logEvent("2026-12-04 10:00:01", u"a.b?"_qs, u"?'"_qs, u"x?y"_qs));
    }

    // A Source or Category longer than its column is cut with a mark rather than refused.
    void longNamesAreCut() {
        const auto e = serverEngine(freshTable());
        if (!e) {
            QSKIP("needs QUILLJOT_TEST_MSSQL");
        }
        const QString longName = QString(300, u'n');
        Store store;
        QVERIFY(!store.open(e->settings).create);
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", longName, longName, u"d"_qs)));
        const auto rows = history(store);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].event.source.size(), SqlServerProvider::kNameColumnSize);
        QCOMPARE(rows[0].event.type, QString(254, u'n') + SqlServerProvider::kCutMark);
    }

    // Every layout a version of the logger has made, and the event table alone as first
    // designed, is upgraded when the logger opens it, every row kept, and its layout recorded; a
    // layout newer than the logger knows is refused and nothing is written.
    void olderLayoutsAreUpgradedAndNewerRefused_data() {
        QTest::addColumn<int>("engine");
        QTest::addColumn<QString>("layout");  // %1 the table
        const auto list = testEngines(m_dir.path(), QString(), m_pg);
        const QString sqliteFirst =
            u"CREATE TABLE %1 (ID INTEGER CONSTRAINT PrimaryKey PRIMARY KEY AUTOINCREMENT, "
            "SampleDate DATETIME, Source VARCHAR(255), Category VARCHAR(255), Data TEXT)"_qs;
        const QString pgFirst =
            u"CREATE TABLE %1 (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
            "SampleDate timestamp NOT NULL, Source text, Category text, Data text);"
            "CREATE INDEX %1_sampledate ON %1 (SampleDate)"_qs;
        const QString mssqlFirst =
            u"CREATE TABLE %1 (ID int IDENTITY(1,1), SampleDate[datetime] NOT NULL, "
            "Source varchar(255) NULL, Category varchar(255) NULL, Data text NULL);"
            "ALTER TABLE %1 WITH NOCHECK ADD CONSTRAINT [PK_%1] PRIMARY KEY NONCLUSTERED (ID)"_qs;
        const std::map<DatabaseKind, QList<std::pair<const char*, QString>>> layouts = {
            {DatabaseKind::File,
             {{"design",
               u"CREATE TABLE %1 (ID INTEGER PRIMARY KEY, SampleDate DATETIME, Source "
               "TEXT, Category TEXT, Data TEXT)"_qs},
              {"first", sqliteFirst},
              {"unrecorded",
               sqliteFirst + u";CREATE INDEX \"%1_SampleDate\" ON %1 (SampleDate)"_qs}}},
            {DatabaseKind::PostgreSql,
             {{"design",
               u"CREATE TABLE %1 (ID serial PRIMARY KEY, SampleDate timestamp, Source "
               "text, Category text, Data text)"_qs},
              {"first", pgFirst}}},
            {DatabaseKind::SqlServer,
             {{"design",
               u"CREATE TABLE %1 (ID int IDENTITY(1,1), SampleDate datetime NULL, "
               "Source text NULL, Category text NULL, Data text NULL)"_qs},
              {"first", mssqlFirst},
              {"indexed", mssqlFirst + u";CREATE INDEX [IX_%1_SampleDate] ON %1 (SampleDate)"_qs},
              {"unrecorded",
               u"CREATE TABLE %1 (ID int IDENTITY(1,1) CONSTRAINT [PK_%1] PRIMARY KEY "
               "NONCLUSTERED, SampleDate datetime2(0) NOT NULL, Source nvarchar(255) NULL, "
               "Category nvarchar(255) NULL, Data nvarchar(max) NULL);"
               "CREATE INDEX [IX_%1_SampleDate] ON %1 (SampleDate)"_qs}}},
        };
        for (int i = 0; i < list.size(); ++i) {
            for (const auto& [name, sql] : layouts.at(list[i].settings.kind)) {
                QTest::newRow(qPrintable(list[i].name + u' ' + QLatin1String(name))) << i << sql;
            }
        }
    }
    void olderLayoutsAreUpgradedAndNewerRefused() {
        QFETCH(int, engine);
        QFETCH(QString, layout);
        Engine e = this->engine(engine, freshTable());
        DatabaseSettings& s = e.settings;
        s.messagesTable = s.table + u"_msg"_qs;
        if (s.kind == DatabaseKind::File) {
            s.database = m_dir.path() + u"/Data/"_qs + s.table + u".db"_qs;  // a layout per file
        } else {
            // The database itself is there already.
            DatabaseSettings other = s;
            other.table = freshTable();
            QVERIFY(!Store().open(other).create);
        }
        // SQL Server's varchar(255) holds no more; its text does.
        const bool roomy = s.kind != DatabaseKind::SqlServer || layout.contains(u"Source text"_qs);
        const QString longName(roomy ? 300 : 255, u'n');
        QStringList sql = layout.arg(s.table).split(u';');
        if (s.kind == DatabaseKind::PostgreSql) {
            sql.append(u"ALTER TABLE %1 OWNER TO %2"_qs.arg(s.table, m_pg.user));
        }
        sql.append(
            u"INSERT INTO %1 (SampleDate, Source, Category, Data) VALUES "
            "('2026-01-02 03:04:05', 'hs.den', 'Log', 'first row')"_qs.arg(s.table));
        sql.append(
            u"INSERT INTO %1 (SampleDate, Source, Category, Data) VALUES "
            "('2026-01-02 03:04:06', '%2', 'Log', 'second row')"_qs.arg(s.table, longName));
        QVERIFY(rawExec(e, sql));

        const auto keptRows = [&](const Store& store) {
            const auto rows = history(store);
            QCOMPARE(rows.size(), 2);
            QCOMPARE(rows[0].event,
                     logEvent("2026-01-02 03:04:05", u"hs.den"_qs, u"Log"_qs, u"first row"_qs));
            QCOMPARE(rows[1].event.data, u"second row"_qs);
            // SQL Server's Source holds 255 characters: a longer one is cut as new ones are.
            QCOMPARE(rows[1].event.source.size(), s.kind == DatabaseKind::SqlServer ? 255 : 300);
        };
        {
            Store store;
            const Store::OpenProblems p = store.open(s);
            QVERIFY2(!p.create && !p.open, qPrintable((p.create ? p.create : p.open)->description));
            QVERIFY2(p.upgraded.contains(u"upgraded to layout 1"_qs), qPrintable(p.upgraded));
            keptRows(store);
            if (QTest::currentTestFailed()) {
                return;
            }
            // Every date from year 1 and every character fit now.
            QVERIFY(store.insert(logEvent("1700-01-01 00:00:00", u"ü"_qs, u"t"_qs, u"ẞ"_qs)));
            QVERIFY(store.insertMessage(LoggedMessage{u"2026-01-03 00:00:00"_qs, u"a"_qs, u"b"_qs,
                                                      u"c"_qs, u"FF00"_qs, u"m"_qs}));
            QCOMPARE(history(store, EventQuery{.to = u"1800-01-01"_qs}).value(0).event.data,
                     u"ẞ"_qs);
        }
        // Recorded: the next start finds nothing to do.
        {
            Store store;
            const Store::OpenProblems p = store.open(s);
            QVERIFY(!p.create && !p.open);
            QCOMPARE(p.upgraded, QString());
        }
        QVERIFY(
            rawExec(e, {s.kind == DatabaseKind::File
                            ? u"PRAGMA user_version = 99"_qs
                            : u"UPDATE tblQuilljotLayout SET Version = 99 WHERE TableName = "
                              "'%1'"_qs.arg(s.kind == DatabaseKind::PostgreSql ? s.table.toLower()
                                                                               : s.table)}));
        Store store;
        const Store::OpenProblems p = store.open(s);
        QVERIFY(p.open);
        QVERIFY2(p.open->description.contains(u"layout 99, made by a newer version"_qs),
                 qPrintable(p.open->description));
        QVERIFY(!store.insert(logEvent("2026-12-04 10:00:00", u"s"_qs, u"t"_qs, u"d"_qs)));
        EventQuery all;
        all.to = u"2100-01-01"_qs;
        QCOMPARE(reader(store)->countEvents(all).value(), 3);
    }

    // A failed step while making the table is reported, not passed over.
    void aTableThatCannotBeMadeIsReported() {
        const auto e = serverEngine(freshTable());
        if (!e) {
            QSKIP("needs QUILLJOT_TEST_MSSQL");
        }
        const QString t = e->settings.table;
        // Another table holds the name of the new table's key already.
        QVERIFY(serverExec(*e, u"CREATE TABLE "_qs + t + u"x (ID int CONSTRAINT [PK_"_qs + t +
                                   u"] PRIMARY KEY)"_qs));
        Store store;
        const auto p = store.open(e->settings);
        QVERIFY(p.create && !p.open);
        QCOMPARE(p.create->step, 4);
    }

    // A server that stops answering fails a write within the query timeout, and later writes at
    // once until the backoff delay has passed; then the store connects again by itself. A
    // connection ended under it, as by a restart, is the same.
    void aSilentOrLostServerFailsInTimeAndIsConnectedAgain() {
        const auto e = serverEngine(freshTable());
        if (!e) {
            QSKIP("needs QUILLJOT_TEST_MSSQL");
        }
        const QString port = ServerSource::parse(e->settings.sqlSource).port;
        Store store;
        store.open(e->settings);
        auto write = [&](const QString& data) {
            return store.insert(logEvent("2026-12-04 10:00:00", {}, {}, data));
        };
        QVERIFY(write(u"1"_qs));
        const QList<qint64> backends = ownBackends(port);
        QCOMPARE(backends.size(), 1);
        signalAll(backends, SIGSTOP);
        QElapsedTimer clock;
        clock.start();
        Status s = write(u"frozen"_qs);
        signalAll(backends, SIGCONT);
        QVERIFY(!s && s.problem().number == ErrorNumber::DatabaseUnavailable);
        // The timeout, then as long again for the server to confirm the cancel.
        qInfo("a frozen server held the write %lld ms", qint64(clock.elapsed()));
        QVERIFY(clock.elapsed() < (2 * SqlServerProvider::kWriteTimeoutSeconds + 3) * 1000);
        clock.restart();
        QVERIFY(!write(u"waiting"_qs));
        QVERIFY(clock.elapsed() < 500);
        QTest::qWait(SqlServerProvider::kFirstRetryMs + 200);
        QVERIFY(write(u"2"_qs));

        signalAll(ownBackends(port), SIGTERM);
        s = write(u"lost"_qs);
        QVERIFY2(!s && s.problem().number == ErrorNumber::DatabaseUnavailable,
                 qPrintable(s ? QString() : s.problem().description));
        QTest::qWait(SqlServerProvider::kFirstRetryMs + 200);
        QVERIFY(write(u"3"_qs));
        QStringList data;
        for (const StoredEvent& r : history(store)) {
            data.append(r.event.data);
        }
        // The frozen write may have been done after all, once the server woke.
        data.removeAll(u"frozen"_qs);
        QCOMPARE(data, QStringList({u"1"_qs, u"2"_qs, u"3"_qs}));
    }

    void aPasswordWithASemicolonSignsIn() {
        const auto e = serverEngine(freshTable());
        if (!e) {
            QSKIP("needs QUILLJOT_TEST_MSSQL");
        }
        // Made once per server; an existing login is kept.
        serverExec(*e, u"CREATE LOGIN qj_semicolon WITH PASSWORD = 'Semi;colon1'"_qs);
        QVERIFY(serverExec(*e, u"ALTER SERVER ROLE sysadmin ADD MEMBER qj_semicolon"_qs));
        const ServerSource source = ServerSource::parse(e->settings.sqlSource);
        DatabaseSettings settings = e->settings;
        settings.sqlSource =
            source.host + u',' + source.port + u"; User ID=qj_semicolon; Password={Semi;colon1}"_qs;
        Store store;
        const auto p = store.open(settings);
        QVERIFY2(!p.open, qPrintable(p.open ? p.open->description : QString()));
        QVERIFY(store.insert(logEvent("2026-12-04 10:00:00", {}, {}, u"d"_qs)));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
