#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include "RecordingSender.h"
#include "logger/LoggerCore.h"
#include "logger/db/DbConnection.h"
#include "support/Hs.h"
#include "support/XapGlobal.h"

namespace {

const QString kOwn = u"zel.Quilljot.HOST1"_qs;

QString eventText(const QString& items, const QString& cls = u"Homeseer.Event"_qs,
                  const QString& source = u"zel.hs.pc"_qs) {
    return u"xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass="_qs + cls + u"\nsource="_qs + source +
           u"\n}\nEvent.Log\n{\n"_qs + items + u"}\n"_qs;
}

QString query(const QString& cls, const QString& section, const QString& item,
              const QString& target = QString()) {
    QString t = u"xap-header\n{\nv=12\nhop=1\nuid=FF000100\nclass="_qs + cls +
                u"\nsource=acme.asker.box\n"_qs;
    if (!target.isEmpty()) {
        t += u"target="_qs + target + u'\n';
    }
    return t + u"}\n"_qs + section + u"\n{\n"_qs + item + u"}\n"_qs;
}

// Reads a SQLite file with a connection of the test's own.
struct Peek {
    QString name = u"peek"_qs;
    explicit Peek(const QString& path) {
        auto db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Peek() {
        { QSqlDatabase::database(name).close(); }
        QSqlDatabase::removeDatabase(name);
    }
    QList<QStringList> rows(const QString& table) {
        QList<QStringList> out;
        QSqlQuery q(QSqlDatabase::database(name));
        q.exec(u"SELECT ID, SampleDate, Source, Category, Data FROM "_qs + table +
               u" ORDER BY ID"_qs);
        while (q.next()) {
            QStringList r;
            for (int i = 0; i < 5; ++i) {
                r.append(q.value(i).toString());
            }
            out.append(r);
        }
        return out;
    }
    QString schema(const QString& table) {
        QSqlQuery q(QSqlDatabase::database(name));
        q.exec(u"SELECT sql FROM sqlite_master WHERE name = '"_qs + table + u'\'');
        return q.next() ? q.value(0).toString() : QString();
    }
};

}  // namespace

class LoggerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<XapGlobal> m_g;
    std::unique_ptr<LoggerCore> m_logger;
    RecordingSender m_node;

    QString defaultDb() const { return m_dir->path() + u"/Data/xapzelQuilljot.mdb"_qs; }
    void setting(const QString& key, const QString& value) {
        m_g->hs().SaveIniSetting(u"Quilljot"_qs, key, value, u"zelXapQuilljot.ini"_qs);
    }
    QStringList reports() const {
        QStringList out;
        for (const auto& s : m_node.sent) {
            if (s[1] == u"Homeseer.Event") {
                out.append(s[3].mid(s[3].indexOf(u"Data\1"_qs) + 5));
            }
        }
        return out;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_g = std::make_unique<XapGlobal>();
        m_g->useAppPath(m_dir->path());
        m_g->ExePath = u"/opt/quilljot/bin/quilljot"_qs;
        m_g->clock = [] { return QDateTime(QDate(2026, 12, 5), QTime(8, 30, 0)); };
        m_node.sent.clear();
        m_g->setSender(&m_node);
        m_g->bXapReady = true;
        m_logger = std::make_unique<LoggerCore>(*m_g);
        m_logger->setOwnSource(kOwn);
    }
    void cleanup() {
        m_logger.reset();
        m_g.reset();
    }

    void firstStartCreatesFileAndTable() {
        m_logger->InitXap();
        QVERIFY(reports().isEmpty());
        QCOMPARE(m_logger->sDatabase, defaultDb());
        QCOMPARE(m_logger->sDatabaseTable, u"tblQuilljot"_qs);
        QCOMPARE(m_logger->sDateDelimiter, u"#"_qs);
        QVERIFY(QFileInfo(m_dir->path() + u"/Data/xapzelQuilljot"_qs).isDir());
        QVERIFY(m_logger->dbConnection()->isOpen());
        Peek peek(defaultDb());
        const QString schema = peek.schema(u"tblQuilljot"_qs);
        QVERIFY2(schema.contains(u"ID INTEGER CONSTRAINT PrimaryKey PRIMARY KEY AUTOINCREMENT"_qs),
                 qPrintable(schema));
        for (const char16_t* column : {u"SampleDate", u"Source", u"Category", u"Data"}) {
            QVERIFY(schema.contains(QString::fromUtf16(column)));
        }
    }

    void eventsBecomeRows() {
        m_logger->InitXap();
        QSignalSpy echo(m_logger.get(), &LoggerCore::echo);
        m_logger->Readmessage(
            eventText(u"Time=2026-12-04 23:13:09\nType=O'Neil\nData=say \"hi\"\n"_qs));
        m_logger->Readmessage(eventText(u"Time=12/4/2026 11:14:00 PM\n"_qs, u"HOMESEER.EVENT"_qs));
        m_logger->Readmessage(eventText(u"Time=not a date\nType=t\nData=d\n"_qs));
        m_logger->Readmessage(eventText(u"Type=no time\n"_qs));
        m_logger->Readmessage(u"xap-header\n{\nclass=Homeseer.Event\n}\nOther\n{\nTime=1\n}\n"_qs);
        m_logger->Readmessage(eventText(u"Time=2026-12-04 00:00:00\nType=midnight\n"_qs));
        m_logger->Readmessage(
            eventText(u"Time=2026-12-04 10:00:00\n"_qs, u"Homeseer.Event"_qs, u"odd\"source"_qs));
        QVERIFY2(reports().isEmpty(), qPrintable(reports().join(u'|')));

        Peek peek(defaultDb());
        const auto rows = peek.rows(u"tblQuilljot"_qs);
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0], QStringList({u"1"_qs, u"2026-12-04 23:13:09"_qs, u"zel.hs.pc"_qs,
                                       u"O'Neil"_qs, u"say 'hi'"_qs}));
        QCOMPARE(rows[1], QStringList({u"2"_qs, u"2026-12-04 23:14:00"_qs, u"zel.hs.pc"_qs,
                                       u"Unknown"_qs, u"Unknown"_qs}));
        QCOMPARE(rows[2][1], u"2026-12-05 08:30:00"_qs);  // the moment of arrival
        QCOMPARE(rows[3][1], u"2026-12-04 00:00:00"_qs);
        QCOMPARE(rows[4][2], u"odd'source"_qs);

        QCOMPARE(echo.size(), 5);
        QCOMPARE(echo[0], QVariantList({u"zel.hs.pc"_qs, u"2026-12-04 23:13:09"_qs, u"O'Neil"_qs,
                                        u"say \"hi\""_qs}));
        QCOMPARE(echo[1][1].toString(), u"12/4/2026 11:14:00 PM"_qs);
    }

    void hostileEventsAreStoredAsText() {
        m_logger->InitXap();
        const QStringList hostile = {
            u"x\"; DROP TABLE tblQuilljot; --"_qs,
            u"\" AS Q3, \"y\" AS Q4 --"_qs,
            u"'); DELETE FROM tblQuilljot; --"_qs,
            u"#2026-01-01# \" || (SELECT 1) || \""_qs,
        };
        for (const QString& h : hostile) {
            m_logger->Readmessage(
                eventText(u"Time=2026-12-04 23:13:09'; DROP TABLE t; --\nType="_qs + h +
                              u"\nData="_qs + h + u'\n',
                          u"Homeseer.Event"_qs, u"a.b."_qs + h));
        }
        QVERIFY2(reports().isEmpty(), qPrintable(reports().join(u'|')));
        Peek peek(defaultDb());
        const auto rows = peek.rows(u"tblQuilljot"_qs);
        QCOMPARE(rows.size(), hostile.size());
        for (int i = 0; i < hostile.size(); ++i) {
            const QString stored = QString(hostile[i]).replace(u'"', u'\'');
            QCOMPARE(rows[i][1], u"2026-12-05 08:30:00"_qs);  // not a date: the arrival time
            QCOMPARE(rows[i][2], u"a.b."_qs + stored);
            QCOMPARE(rows[i][3], stored);
            QCOMPARE(rows[i][4], stored);
        }
    }

    void hostileNamesInSettingsAreRefused() {
        setting(u"DatabaseTable"_qs, u"tblQuilljot (ID) SELECT 1; DROP TABLE x"_qs);
        m_logger->InitXap();
        QVERIFY(m_logger->sDatabaseTable.isEmpty());
        QVERIFY2(reports().value(0).contains(u"DatabaseTable must be a plain name"_qs),
                 qPrintable(reports().join(u'|')));
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:09\n"_qs));
        Peek peek(defaultDb());
        QVERIFY(peek.schema(u"tblQuilljot"_qs).isEmpty());

        m_node.sent.clear();
        setting(u"UseSQL"_qs, u"True"_qs);
        setting(u"Database"_qs, u"Home; DROP DATABASE master"_qs);
        m_logger->InitXap();
        QVERIFY(
            reports().value(0).contains(u"Database must be a plain SQL Server catalog name"_qs));
    }

    void databaseReplacedMidPassKeepsItsRowsAndReportsEachEventOnce() {
        m_logger->InitXap();
        m_logger->dbConnection()->beginBatch();
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:09\nData=1\n"_qs));
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:10\nData=2\n"_qs));
        const QString moved = m_dir->path() + u"/moved.mdb"_qs;
        QVERIFY(QFile::rename(defaultDb(), moved));
        QVERIFY(QDir().mkdir(defaultDb()));  // a folder where the file was
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:11\nData=3\n"_qs));
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:12\nData=4\n"_qs));
        m_logger->dbConnection()->endBatch();
        QCOMPARE(reports().size(), 2);
        QVERIFY2(reports()[0].contains(u"was removed or replaced while open"_qs) &&
                     reports()[0].contains(u"The last 2 rows went to the file that was opened"_qs),
                 qPrintable(reports()[0]));
        QVERIFY(reports()[1].contains(u"the object is closed"_qs));
        QCOMPARE(QFileInfo(defaultDb() + u"-wal"_qs).size(), 0);  // nothing left to replay
        Peek peek(moved);
        QCOMPARE(peek.rows(u"tblQuilljot"_qs).size(), 2);
    }

    void existingTableInOtherCaseIsUsed() {
        QDir().mkpath(m_dir->path() + u"/Data"_qs);
        {
            Peek peek(defaultDb());
            QSqlQuery q(QSqlDatabase::database(peek.name));
            QVERIFY(
                q.exec(u"CREATE TABLE TBLQUILLJOT (ID INTEGER PRIMARY KEY, SampleDate, Source, "
                       "Category, Data, Extra)"_qs));
        }
        m_logger->InitXap();
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:09\nType=a\nData=b\n"_qs));
        Peek peek(defaultDb());
        QVERIFY(peek.schema(u"TBLQUILLJOT"_qs).contains(u"Extra"_qs));
        QCOMPARE(peek.rows(u"tblQuilljot"_qs).size(), 1);
    }

    void foreignFileIsRefusedAndLeftAlone() {
        const QString path = m_dir->path() + u"/Data/old.mdb"_qs;
        QDir().mkpath(m_dir->path() + u"/Data"_qs);
        QByteArray jet(4096, '\0');
        jet.replace(4, 15, "Standard Jet DB");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(jet);
        }
        setting(u"Database"_qs, path);
        m_logger->InitXap();
        QVERIFY(!m_logger->dbConnection()->isOpen());
        QCOMPARE(reports().size(), 1);
        QVERIFY2(reports()[0].startsWith(u"InitXap  Line 10 "_qs), qPrintable(reports()[0]));
        QVERIFY(reports()[0].contains(path + u" is not a SQLite database"_qs));

        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:09\n"_qs));
        QCOMPARE(reports().size(), 2);
        QVERIFY(reports()[1].startsWith(u"Readmessage Line 4 "_qs));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), jet);
        QVERIFY(!QFileInfo::exists(path + u"-wal"_qs));
    }

    void ownReportsAreNotReportedAgain() {
        setting(u"Database"_qs, m_dir->path() + u"/blocked/x.mdb"_qs);
        QFile blocker(m_dir->path() + u"/blocked"_qs);
        QVERIFY(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
        blocker.close();
        m_logger->InitXap();
        const qsizetype before = reports().size();
        QVERIFY(before >= 1);
        m_logger->Readmessage(
            eventText(u"Time=2026-12-04 23:13:09\n"_qs, u"Homeseer.Event"_qs, kOwn));
        QCOMPARE(reports().size(), before);
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:09\n"_qs));
        QCOMPARE(reports().size(), before + 1);
    }

    void secondRunSwitchesDatabases() {
        m_logger->InitXap();
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:09\n"_qs));
        const QString other = m_dir->path() + u"/Logs/Home/events.mdb"_qs;
        setting(u"Database"_qs, other);
        setting(u"DatabaseTable"_qs, u"tblOther"_qs);
        m_logger->InitXap();
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:10\n"_qs));
        m_logger->Readmessage(eventText(u"Time=2026-12-04 23:13:11\n"_qs));
        QVERIFY(reports().isEmpty());
        {
            Peek peek(defaultDb());
            QCOMPARE(peek.rows(u"tblQuilljot"_qs).size(), 1);
        }
        Peek peek(other);
        QCOMPARE(peek.rows(u"tblOther"_qs).size(), 2);
    }

    void badUseSqlKeepsThePreviousValue() {
        setting(u"UseSQL"_qs, u"maybe"_qs);
        m_logger->InitXap();
        QVERIFY(!m_logger->bUseSQL);
        QVERIFY(reports()[0].startsWith(u"InitXap  Line 1 "_qs));
        QVERIFY(m_logger->dbConnection()->isOpen());
    }

    void queriesAreAnswered_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("reply");
        const QString val = QString(QChar(1));
        QTest::newRow("echo unaddressed")
            << query(u"VOZ.Echo"_qs, u"Echo.Query"_qs, u"Query=PING\n"_qs)
            << QStringList{u"acme.asker.box"_qs, u"VOZ.Echo"_qs, u"Echo.Response"_qs,
                           u"Response"_qs + val + u"ping"_qs};
        QTest::newRow("echo addressed")
            << query(u"voz.echo"_qs, u"Echo.Query"_qs, u"Query=Hi\n"_qs, u"zel.quilljot.*"_qs)
            << QStringList{u"acme.asker.box"_qs, u"VOZ.Echo"_qs, u"Echo.Response"_qs,
                           u"Response"_qs + val + u"hi"_qs};
        QTest::newRow("echo elsewhere")
            << query(u"VOZ.Echo"_qs, u"Echo.Query"_qs, u"Query=PING\n"_qs, u"other.app.box"_qs)
            << QStringList{};
        QTest::newRow("echo without query")
            << query(u"VOZ.Echo"_qs, u"Echo.Query"_qs, u"Other=1\n"_qs) << QStringList{};
        const QString roleData = u"Role"_qs + val + u"Application"_qs + QChar(0) + u"Path"_qs +
                                 val + u"/opt/quilljot/bin/quilljot"_qs + QChar(0) + u"Form"_qs +
                                 val + u"SetupForm"_qs;
        QTest::newRow("role ANY") << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=ANY\n"_qs)
                                  << QStringList{QString(), u"Homeseer.Role"_qs,
                                                 u"Role.Notification"_qs, roleData};
        QTest::newRow("role application addressed")
            << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=application\n"_qs, kOwn)
            << QStringList{QString(), u"Homeseer.Role"_qs, u"Role.Notification"_qs, roleData};
        QTest::newRow("role other")
            << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=other\n"_qs) << QStringList{};
        QTest::newRow("role elsewhere")
            << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=any\n"_qs, u"a.b.c"_qs)
            << QStringList{};
        QTest::newRow("other class")
            << query(u"Some.Thing"_qs, u"Role.Query"_qs, u"Role=any\n"_qs) << QStringList{};
    }
    void queriesAreAnswered() {
        QFETCH(QString, text);
        QFETCH(QStringList, reply);
        m_logger->Readmessage(text);
        if (reply.isEmpty()) {
            QVERIFY(m_node.sent.isEmpty());
        } else {
            QCOMPARE(m_node.sent.size(), 1);
            QCOMPARE(m_node.sent[0], reply);
        }
    }

    void aRefusedStatementInAPassLeavesItsNeighbours() {
        m_logger->InitXap();
        DbConnection* db = m_logger->dbConnection();
        db->execute(u"CREATE TABLE u (a TEXT UNIQUE)"_qs);
        auto insert = [db](const char* v) {
            db->execute(u"INSERT INTO u (a) SELECT \""_qs + QString::fromLatin1(v) +
                        u"\" AS Q1"_qs);
        };
        auto count = [this] {
            Peek peek(defaultDb());
            QSqlQuery q(QSqlDatabase::database(peek.name));
            q.exec(u"SELECT group_concat(a, ',') FROM u"_qs);
            return q.next() ? q.value(0).toString() : u"?"_qs;
        };
        db->beginBatch();
        insert("x");
        QVERIFY_THROWS_EXCEPTION(std::exception, insert("x"));
        insert("y");
        QCOMPARE(count(), QString());  // nothing visible before the pass ends
        db->endBatch();
        QCOMPARE(count(), u"x,y"_qs);
    }

    void stdTimeForms() {
        QCOMPARE(m_logger->StdTime(u"2026-12-04 23:13:09"_qs), u"2026-12-04 23:13:09"_qs);
        QCOMPARE(m_logger->StdTime(u"2026-12-04 00:00:00"_qs), u"2026-12-04"_qs);
        QCOMPARE(m_logger->StdTime(QString()), u"2026-12-05 08:30:00"_qs);
    }
};

QTEST_GUILESS_MAIN(LoggerTest)
#include "tst_logger.moc"
