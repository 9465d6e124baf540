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
    static const QString risky = u"=+-@"_qs;
    return field.size() > 1 && field[0] == u'\'' && risky.contains(field[1]) ? field.mid(1) : field;
}

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    PostgresServer m_pg;

    QString database() const { return m_dir.path() + u"/Data/events.mdb"_qs; }

    // The settings file of an application folder whose logger uses `d`.
    static bool useDatabase(const QString& app, const DatabaseSettings& d) {
        return writeFile(app + u"/Config/zelXapQuilljot.ini"_qs,
                         "[QUILLJOT]\nENGINE=" + SettingRules::engineName(d.kind).toUtf8() + "\nSQLSOURCE=" +
                             d.sqlSource.toUtf8() + "\nDATABASE=" + d.database.toUtf8() +
                             "\nDATABASETABLE=" + d.table.toUtf8() + "\n");
    }

    int exportWith(const QStringList& args, QByteArray* err = nullptr,
                   const QString& app = QString()) {
        const Run r = runProgram(
            "quilljot",
            QStringList{u"export"_qs, u"--app-dir"_qs, app.isEmpty() ? m_dir.path() : app} + args);
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
        QDir().mkpath(m_dir.path() + u"/Data"_qs);
        QVERIFY(useDatabase(
            m_dir.path(), DatabaseSettings{DatabaseKind::File, {}, database(), u"tblQuilljot"_qs}));
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
        const QString table =
            u"tblExport"_qs + QString::number(QDateTime::currentMSecsSinceEpoch() % 100000);
        const TestEngine e = testEngines(m_dir.path(), table, m_pg)[engine];
        QTemporaryDir app;
        QVERIFY(useDatabase(app.path(), e.settings));
        QList<StoredEvent> stored;
        {
            Store store;
            QVERIFY(!store.open(e.settings).open);
            const QList<LogEvent> events = {
                {u"2026-12-01 08:00:00"_qs, u"a.b.c"_qs, u"Log"_qs, u"plain"_qs},
                {u"2026-12-02 09:30:00"_qs, u"he said \"hi\", then left"_qs, u"Type,with,commas"_qs,
                 u"line one\nline two\r\nline three"_qs},
                {u"2026-12-03 10:00:00"_qs, u"Küche.Licht"_qs, u"É ✓ 日本"_qs, u"😀 ' \" , ;"_qs},
                {u"2026-12-04 11:00:00"_qs, u"x.y.z"_qs, u"=SUM(A1)"_qs, u"-1+2 @home"_qs},
                {u"2026-12-05 12:00:00"_qs, u"x.y.z"_qs, u""_qs, u"\"\""_qs},
            };
            for (const LogEvent& ev : events) {
                QVERIFY(store.insert(ev).ok());
            }
            EventQuery all;
            all.order = EventQuery::Order::Ascending;
            QVERIFY(store.readEvents(all, [&](const StoredEvent& r) { stored.append(r); }).ok());
            QCOMPARE(stored.size(), events.size());
        }

        const QString csvPath = app.path() + u"/out.csv"_qs;
        QByteArray err;
        QCOMPARE(exportWith({u"--format"_qs, u"csv"_qs, u"-o"_qs, csvPath}, &err, app.path()), 0);
        const QList<QStringList> records = readCsv(readFile(csvPath));
        QCOMPARE(records.size(), stored.size() + 1);
        QCOMPARE(records[0],
                 (QStringList{u"ID"_qs, u"Time"_qs, u"Source"_qs, u"Type"_qs, u"Data"_qs}));
        for (qsizetype i = 0; i < stored.size(); ++i) {
            const StoredEvent& s = stored[i];
            QStringList fields;
            for (const QString& f : records[i + 1]) {
                fields.append(unguarded(f));
            }
            QCOMPARE(fields, (QStringList{QString::number(s.id), s.event.time, s.event.source,
                                          s.event.type, s.event.data}));
        }

        const QString jsonPath = app.path() + u"/out.jsonl"_qs;
        QCOMPARE(exportWith({u"--format"_qs, u"jsonl"_qs, u"-o"_qs, jsonPath}, &err, app.path()),
                 0);
        const QList<QByteArray> lines = readFile(jsonPath).split('\n');
        QCOMPARE(lines.size(), stored.size() + 1);  // each line ends in a line feed
        QVERIFY(lines.last().isEmpty());
        for (qsizetype i = 0; i < stored.size(); ++i) {
            QJsonParseError error;
            const QJsonObject o = QJsonDocument::fromJson(lines[i], &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            const StoredEvent& s = stored[i];
            QCOMPARE(o[u"id"_qs].toInteger(), s.id);
            QCOMPARE(o[u"time"_qs].toString(), s.event.time);
            QCOMPARE(o[u"source"_qs].toString(), s.event.source);
            QCOMPARE(o[u"type"_qs].toString(), s.event.type);
            QCOMPARE(o[u"data"_qs].toString(), s.event.data);
        }

        const QString rangePath = app.path() + u"/range.jsonl"_qs;
        QCOMPARE(exportWith({u"--from"_qs, u"2026-12-02"_qs, u"--to"_qs, u"2026-12-04 11:00"_qs,
                             u"--source"_qs, u"KüCHE"_qs, u"--format"_qs, u"jsonl"_qs, u"-o"_qs,
                             rangePath},
                            &err, app.path()),
                 0);
        const QJsonObject only = QJsonDocument::fromJson(readFile(rangePath)).object();
        QCOMPARE(only[u"id"_qs].toInteger(), stored[2].id);
    }

    // The messages table comes out the same way, filtered by source.
    void messagesTable() {
        Store store;
        QVERIFY(!store.open(DatabaseSettings{DatabaseKind::File, {}, database(), u"tblQuilljot"_qs})
                     .open);
        const LoggedMessage light{
            u"2026-12-05 10:00:00"_qs,
            u"acme.lights.kitchen"_qs,
            QString(),
            u"xAPBSC.event"_qs,
            u"FF00AB01"_qs,
            u"xap-header\n{\nclass=xAPBSC.event\n}\nx\n{\nstate=\"on\", 1\n}\n"_qs};
        QVERIFY(store.insertMessage(light));
        QVERIFY(store.insertMessage(LoggedMessage{
            u"2026-12-05 10:00:01"_qs, u"acme.other"_qs, {}, u"xAPBSC.info"_qs, {}, u"x"_qs}));
        const QString path = m_dir.path() + u"/messages.csv"_qs;
        QCOMPARE(exportWith({u"--table"_qs, u"messages"_qs, u"--source"_qs, u"kitchen"_qs, u"-o"_qs,
                             path}),
                 0);
        const QList<QStringList> records = readCsv(readFile(path));
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].mid(1), (QStringList{light.time, light.source, light.target,
                                                 light.messageClass, light.uid, light.text}));
    }

    // Wrong usage is 2 and writes nothing; a database that cannot be read is 1.
    void exitStatus() {
        QByteArray err;
        const QString out = m_dir.path() + u"/never.csv"_qs;
        QCOMPARE(exportWith({u"--format"_qs, u"xml"_qs, u"-o"_qs, out}, &err), 2);
        QVERIFY(err.contains("--format"));
        QCOMPARE(exportWith({u"--from"_qs, u"yesterday"_qs, u"-o"_qs, out}), 2);
        QVERIFY(!QFile::exists(out));

        QTemporaryDir empty;
        QVERIFY(writeFile(empty.path() + u"/Config/zelXapQuilljot.ini"_qs,
                          "[QUILLJOT]\nDATABASE=" + empty.path().toUtf8() + "/missing.mdb\n"));
        QCOMPARE(
            runProgram("quilljot", {u"export"_qs, u"--app-dir"_qs, empty.path(), u"-o"_qs, out})
                .status,
            1);
        QVERIFY(!QFile::exists(out));
        QVERIFY(!QFile::exists(empty.path() + u"/missing.mdb"_qs));
    }
};

QTEST_GUILESS_MAIN(ExportTest)
#include "tst_export.moc"
