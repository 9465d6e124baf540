#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "TestEngines.h"
#include "TestFiles.h"
#include "TestProcesses.h"
#include "store/Store.h"

// `quilljot export`, a process of its own that only reads, against a database of the test's own
// on every engine that can run here: what comes out is what the database holds, however hostile
// the texts.
namespace {

// The fields of RFC 4180 records (quoted fields may hold commas, quotes and line breaks).
QList<QStringList> readCsv(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            record.append(std::exchange(field, {}));
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            record.append(std::exchange(field, {}));
            records.append(std::exchange(record, {}));
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

// The text a spreadsheet-safe CSV field stands for.
QString unguarded(const QString& field) {
    static const QString risky = QStringLiteral("=+-@");
    return field.size() > 1 && field[0] == u'\'' && risky.contains(field[1]) ? field.mid(1) : field;
}

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    PostgresServer m_pg;

    QString database() const { return m_dir.path() + QStringLiteral("/Data/events.mdb"); }

    int exportWith(const QStringList& args, QByteArray* err = nullptr,
                   const QString& app = QString()) {
        const Run r = runProgram("quilljot",
                                 QStringList{QStringLiteral("export"), QStringLiteral("--app-dir"),
                                             app.isEmpty() ? m_dir.path() : app} +
                                     args);
        if (err != nullptr) {
            *err = r.err;
        }
        return r.status;
    }

private slots:
    void initTestCase() {
        if (!m_pg.start() && PostgresServer::required()) {
            QFAIL(qPrintable(m_pg.missing));
        }
        QDir().mkpath(m_dir.path() + QStringLiteral("/Data"));
        QVERIFY(useDatabase(
            m_dir.path(),
            DatabaseSettings{DatabaseKind::File, {}, database(), QStringLiteral("tblQuilljot")}));
    }

    // Both formats give back every row of the database as it is stored, and a range takes just
    // its rows.
    void roundTrip_data() {
        QTest::addColumn<int>("engine");
        const auto list = testEngines(m_dir.path(), QString(), m_pg);
        for (int i = 0; i < list.size(); ++i) {
            QTest::newRow(qPrintable(list[i].name)) << i;
        }
    }
    void roundTrip() {
        QFETCH(int, engine);
        const QString table = QStringLiteral("tblExport") +
                              QString::number(QDateTime::currentMSecsSinceEpoch() % 100000);
        const TestEngine e = testEngines(m_dir.path(), table, m_pg)[engine];
        QTemporaryDir app;
        QVERIFY(useDatabase(app.path(), e.settings));
        QList<StoredEvent> stored;
        {
            Store store;
            QVERIFY(!store.open(e.settings).open);
            const QList<LogEvent> events = {
                {QStringLiteral("2026-12-01 08:00:00"), QStringLiteral("a.b.c"),
                 QStringLiteral("Log"), QStringLiteral("plain")},
                {QStringLiteral("2026-12-02 09:30:00"), QStringLiteral("he said \"hi\", then left"),
                 QStringLiteral("Type,with,commas"),
                 QStringLiteral("line one\nline two\r\nline three")},
                {QStringLiteral("2026-12-03 10:00:00"), QStringLiteral("Küche.Licht"),
                 QStringLiteral("É ✓ 日本"), QStringLiteral("😀 ' \" , ;")},
                {QStringLiteral("2026-12-04 11:00:00"), QStringLiteral("x.y.z"),
                 QStringLiteral("=SUM(A1)"), QStringLiteral("-1+2 @home")},
                {QStringLiteral("2026-12-05 12:00:00"), QStringLiteral("x.y.z"), QStringLiteral(""),
                 QStringLiteral("\"\"")},
            };
            for (const LogEvent& ev : events) {
                QVERIFY(store.insert(ev).ok());
            }
            EventQuery all;
            all.order = EventQuery::Order::Ascending;
            QVERIFY(store.readEvents(all, [&](const StoredEvent& r) { stored.append(r); }).ok());
            QCOMPARE(stored.size(), events.size());
        }

        const QString csvPath = app.path() + QStringLiteral("/out.csv");
        QByteArray err;
        QCOMPARE(exportWith({QStringLiteral("--format"), QStringLiteral("csv"),
                             QStringLiteral("-o"), csvPath},
                            &err, app.path()),
                 0);
        const QList<QStringList> records = readCsv(readFile(csvPath));
        QCOMPARE(records.size(), stored.size() + 1);
        QCOMPARE(records[0], (QStringList{QStringLiteral("ID"), QStringLiteral("Time"),
                                          QStringLiteral("Source"), QStringLiteral("Type"),
                                          QStringLiteral("Data")}));
        for (qsizetype i = 0; i < stored.size(); ++i) {
            const StoredEvent& s = stored[i];
            QStringList fields;
            for (const QString& f : records[i + 1]) {
                fields.append(unguarded(f));
            }
            QCOMPARE(fields, (QStringList{QString::number(s.id), s.event.time, s.event.source,
                                          s.event.type, s.event.data}));
        }

        const QString jsonPath = app.path() + QStringLiteral("/out.jsonl");
        QCOMPARE(exportWith({QStringLiteral("--format"), QStringLiteral("jsonl"),
                             QStringLiteral("-o"), jsonPath},
                            &err, app.path()),
                 0);
        const QList<QByteArray> lines = readFile(jsonPath).split('\n');
        QCOMPARE(lines.size(), stored.size() + 1);  // each line ends in a line feed
        QVERIFY(lines.last().isEmpty());
        for (qsizetype i = 0; i < stored.size(); ++i) {
            QJsonParseError error;
            const QJsonObject o = QJsonDocument::fromJson(lines[i], &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            const StoredEvent& s = stored[i];
            QCOMPARE(o[QStringLiteral("id")].toInteger(), s.id);
            const auto field = [&](const char* name) { return o[QLatin1String(name)].toString(); };
            QCOMPARE((LogEvent{field("time"), field("source"), field("type"), field("data")}),
                     s.event);
        }

        const QString rangePath = app.path() + QStringLiteral("/range.jsonl");
        QCOMPARE(exportWith({QStringLiteral("--from"), QStringLiteral("2026-12-02"),
                             QStringLiteral("--to"), QStringLiteral("2026-12-04 11:00"),
                             QStringLiteral("--source"), QStringLiteral("KüCHE"),
                             QStringLiteral("--format"), QStringLiteral("jsonl"),
                             QStringLiteral("-o"), rangePath},
                            &err, app.path()),
                 0);
        const QJsonObject only = QJsonDocument::fromJson(readFile(rangePath)).object();
        QCOMPARE(only[QStringLiteral("id")].toInteger(), stored[2].id);
    }

    // The messages table comes out the same way, filtered by source.
    void messagesTable() {
        Store store;
        QVERIFY(!store
                     .open(DatabaseSettings{
                         DatabaseKind::File, {}, database(), QStringLiteral("tblQuilljot")})
                     .open);
        const LoggedMessage light{
            QStringLiteral("2026-12-05 10:00:00"),
            QStringLiteral("acme.lights.kitchen"),
            QString(),
            QStringLiteral("xAPBSC.event"),
            QStringLiteral("FF00AB01"),
            QStringLiteral("xap-header\n{\nclass=xAPBSC.event\n}\nx\n{\nstate=\"on\", 1\n}\n")};
        QVERIFY(store.insertMessage(light));
        QVERIFY(store.insertMessage(LoggedMessage{QStringLiteral("2026-12-05 10:00:01"),
                                                  QStringLiteral("acme.other"),
                                                  {},
                                                  QStringLiteral("xAPBSC.info"),
                                                  {},
                                                  QStringLiteral("x")}));
        const QString path = m_dir.path() + QStringLiteral("/messages.csv");
        QCOMPARE(exportWith({QStringLiteral("--table"), QStringLiteral("messages"),
                             QStringLiteral("--source"), QStringLiteral("kitchen"),
                             QStringLiteral("-o"), path}),
                 0);
        const QList<QStringList> records = readCsv(readFile(path));
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].mid(1), (QStringList{light.time, light.source, light.target,
                                                 light.messageClass, light.uid, light.text}));
    }

    // --activity writes the chart's counts per interval, empty ones too, split into columns.
    void activityCounts() {
        Store store;
        QVERIFY(!store
                     .open(DatabaseSettings{
                         DatabaseKind::File, {}, database(), QStringLiteral("tblQuilljot")})
                     .open);
        for (const char* time :
             {"2031-01-01 08:00:00", "2031-01-01 09:30:00", "2031-01-03 23:59:59"}) {
            QVERIFY(store.insert(LogEvent{QString::fromLatin1(time), QStringLiteral("door, front"),
                                          QStringLiteral("Log"), QStringLiteral("opened")}));
        }
        QVERIFY(store.insert(LogEvent{QStringLiteral("2031-01-02 12:00:00"), QStringLiteral("lamp"),
                                      QStringLiteral("Log"), QStringLiteral("on")}));
        const QString path = m_dir.path() + QStringLiteral("/activity.csv");
        QCOMPARE(exportWith({QStringLiteral("--activity"), QStringLiteral("--from"),
                             QStringLiteral("2031-01-01"), QStringLiteral("--to"),
                             QStringLiteral("2031-01-05"), QStringLiteral("--bucket"),
                             QStringLiteral("day"), QStringLiteral("--split"),
                             QStringLiteral("source"), QStringLiteral("-o"), path}),
                 0);
        QCOMPARE(readFile(path), QByteArray("Start,Count,\"door, front\",lamp\r\n"
                                            "2031-01-01 00:00:00,2,2,0\r\n"
                                            "2031-01-02 00:00:00,1,0,1\r\n"
                                            "2031-01-03 00:00:00,1,1,0\r\n"
                                            "2031-01-04 00:00:00,0,0,0\r\n"));
        QCOMPARE(exportWith({QStringLiteral("--activity"), QStringLiteral("--bucket"),
                             QStringLiteral("year")}),
                 2);
        QCOMPARE(exportWith({QStringLiteral("--split"), QStringLiteral("source")}), 2);
    }

    // Wrong usage is 2 and writes nothing; a database that cannot be read is 1.
    void exitStatus() {
        QByteArray err;
        const QString out = m_dir.path() + QStringLiteral("/never.csv");
        QCOMPARE(exportWith(
                     {QStringLiteral("--format"), QStringLiteral("xml"), QStringLiteral("-o"), out},
                     &err),
                 2);
        QVERIFY(err.contains("--format"));
        QCOMPARE(exportWith({QStringLiteral("--from"), QStringLiteral("yesterday"),
                             QStringLiteral("-o"), out}),
                 2);
        QVERIFY(!QFile::exists(out));

        QTemporaryDir empty;
        QVERIFY(writeFile(empty.path() + QStringLiteral("/Config/zelXapQuilljot.ini"),
                          "[QUILLJOT]\nDATABASE=" + empty.path().toUtf8() + "/missing.mdb\n"));
        QCOMPARE(runProgram("quilljot", {QStringLiteral("export"), QStringLiteral("--app-dir"),
                                         empty.path(), QStringLiteral("-o"), out})
                     .status,
                 1);
        QVERIFY(!QFile::exists(out));
        QVERIFY(!QFile::exists(empty.path() + QStringLiteral("/missing.mdb")));
    }
};

QTEST_GUILESS_MAIN(ExportTest)
#include "tst_export.moc"
