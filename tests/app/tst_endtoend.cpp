#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUdpSocket>
#include <QtTest>

#include <list>
#include "PostgresServer.h"
#include "TestProcesses.h"

// The real programs as processes: a hub on a free loopback port, the logger headless in a fresh
// application folder whose shared settings send to 127.0.0.1, and xap-send as the network.

class EndToEndTest : public QObject {
    Q_OBJECT

    AppFolder m_app;
    HubProcess m_hub;
    LoggerProcess m_logger;

    QList<QStringList> rows() { return rowsOf(m_app); }

    static QList<QStringList> rowsOf(const AppFolder& app) {
        QList<QStringList> out;
        {
            auto db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"peek"_qs);
            db.setDatabaseName(app.database());
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(
                    u"SELECT SampleDate, Source, Category, Data FROM tblQuilljot ORDER BY ID"_qs);
                while (q.next()) {
                    out.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                q.value(3).toString()});
                }
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(u"peek"_qs);
        return out;
    }

    QByteArray send(const QStringList& args, int* exitCode = nullptr) {
        QProcess p;
        p.start(tool("xap-send"), QStringList{u"--port"_qs, QString::number(m_hub.port)} + args);
        p.waitForFinished(10000);
        if (exitCode != nullptr) {
            *exitCode = p.exitCode();
        }
        return p.readAllStandardOutput();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_hub.start());
        QVERIFY(m_logger.start(m_app, m_hub.port, {u"--echo"_qs}));
        QTRY_VERIFY_WITH_TIMEOUT(m_hub.said("add zel.Quilljot."), 10000);
    }

    void logsEventsAndItsOwnStartReport() {
        int code = -1;
        send({u"--class"_qs, u"Homeseer.Event"_qs, u"--section"_qs, u"Event.Log"_qs,
              u"Time=2026-12-04 23:13:09"_qs, u"Type=O'Neil"_qs, u"Data=say \"hi\""_qs},
             &code);
        QCOMPARE(code, 0);
        send({u"--class"_qs, u"homeseer.event"_qs, u"--section"_qs, u"event.log"_qs,
              u"Time=12/4/2026 11:14:00 PM"_qs, u"Type=Log"_qs, u"Data=second"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(rows().size() >= 3, 10000);
        const auto r = rows();
        QCOMPARE(r[0][2], u"xapzelQuilljot"_qs);
        QVERIFY2(r[0][3].startsWith(u"Using xAP port  3"_qs), qPrintable(r[0][3]));
        QVERIFY(r[0][0].startsWith(u"20"_qs));
        QCOMPARE(r[1][0], u"2026-12-04 23:13:09"_qs);
        QVERIFY(r[1][1].startsWith(u"zel.xapsend."_qs));
        QCOMPARE(r[1][2], u"O'Neil"_qs);
        QCOMPARE(r[1][3], u"say 'hi'"_qs);
        QCOMPARE(r[2][0], u"2026-12-04 23:14:00"_qs);
        QCOMPARE(r[2][3], u"second"_qs);
        QTRY_VERIFY(m_logger.process.peek(1 << 20).contains("Log  |  second"));
    }

    void answersEchoAndRoleQueries() {
        int code = -1;
        const QByteArray echo = send({u"--class"_qs, u"VOZ.Echo"_qs, u"--section"_qs,
                                      u"Echo.Query"_qs, u"Query=PING"_qs, u"--wait"_qs, u"2"_qs},
                                     &code);
        QCOMPARE(code, 0);
        QVERIFY2(echo.contains("class=VOZ.Echo\n"), echo.constData());
        QVERIFY(echo.contains("Echo.Response\n{\nResponse=ping\n}\n"));

        const QByteArray role =
            send({u"--class"_qs, u"Homeseer.Role"_qs, u"--section"_qs, u"Role.Query"_qs,
                  u"Role=ANY"_qs, u"--wait"_qs, u"2"_qs, u"--all"_qs});
        QVERIFY2(role.contains("class=Homeseer.Role\nsource=zel.Quilljot."), role.constData());
        QVERIFY(role.contains("Role.Notification\n{\nRole=Application\nPath="));
        QVERIFY(role.contains("/quilljot\nForm=SetupForm\n}\n"));
    }

    void captureReplayedIntoAnotherLoggerGivesTheSameRows() {
        QTemporaryDir dir;
        const QString capture = dir.filePath(u"traffic.jsonl"_qs);
        SnoopProcess snoop;
        QVERIFY(snoop.start(m_hub.port, {u"--capture"_qs, capture}));
        for (const QString& item :
             {u"Data=plain"_qs, u"Data=\"quoted\" caf\u00e9 \u20ac"_qs, u"Data=last|of three"_qs}) {
            send({u"--class"_qs, u"Homeseer.Event"_qs, u"--section"_qs, u"Event.Log"_qs,
                  u"Time=12/4/2026 11:14:00 PM"_qs, u"Type=Replayed"_qs, item});
        }
        auto replayed = [](const QList<QStringList>& all) {
            QList<QStringList> out;
            std::copy_if(all.begin(), all.end(), std::back_inserter(out),
                         [](const QStringList& r) { return r[2] == u"Replayed"; });
            return out;
        };
        QTRY_COMPARE_WITH_TIMEOUT(replayed(rows()).size(), 3, 10000);
        QCOMPARE(snoop.stop(), 0);

        AppFolder app;
        HubProcess hub;
        LoggerProcess logger;
        QVERIFY(hub.start());
        QVERIFY(logger.start(app, hub.port));
        QTRY_VERIFY_WITH_TIMEOUT(hub.said("add zel.Quilljot."), 10000);
        QProcess replay;
        replay.start(tool("xap-send"), {u"--port"_qs, QString::number(hub.port), u"--replay"_qs,
                                        capture, u"--rate"_qs, u"200"_qs});
        QVERIFY(replay.waitForFinished(10000));
        QCOMPARE(replay.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(replayed(rowsOf(app)).size(), 3, 10000);
        QCOMPARE(replayed(rowsOf(app)), replayed(rows()));

        // A logger that stops says so: the hub stops forwarding to its port at once.
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(hub.said("port " + QByteArray::number(logger.port) + " (stopped)"),
                                 5000);
    }

    // A second logger on the same network writes to a private PostgreSQL server, which makes
    // the database and the table; texts are stored as they came.
    void logsIntoPostgreSql() {
        PostgresServer pg;
        if (!pg.start()) {
            if (PostgresServer::required()) {
                QFAIL(qPrintable(pg.missing));
            }
            QSKIP(qPrintable(pg.missing));
        }
        AppFolder app;
        const DatabaseSettings d = pg.settings(u"HomeLog"_qs, u"tblQuilljot"_qs);
        QFile ini(app.path(u"Config/zelXapQuilljot.ini"_qs));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[QUILLJOT]\r\nENGINE=postgresql\r\nSQLSOURCE=" + d.sqlSource.toUtf8() +
                  "\r\nDATABASE=HomeLog\r\nDATABASETABLE=tblQuilljot\r\n");
        ini.close();
        LoggerProcess logger;
        QVERIFY(logger.start(app, m_hub.port));
        send({u"--class"_qs, u"Homeseer.Event"_qs, u"--section"_qs, u"Event.Log"_qs,
              u"Time=2026-12-04 23:13:09"_qs, u"Type=O'Neil"_qs, u"Data=say \"hi\""_qs});
        auto db = QSqlDatabase::addDatabase(u"QPSQL"_qs, u"pgpeek"_qs);
        db.setHostName(pg.socketFolder);
        db.setPort(pg.port.toInt());
        db.setDatabaseName(u"HomeLog"_qs);
        auto rows = [&] {
            QStringList out;
            if (db.open()) {
                QSqlQuery q(
                    u"SELECT SampleDate, Category, Data FROM tblQuilljot "
                    "WHERE Category = 'O''Neil'"_qs,
                    db);
                while (q.next()) {
                    out << q.value(0).toDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_qs)
                        << q.value(1).toString() << q.value(2).toString();
                }
            }
            return out;
        };
        QTRY_VERIFY_WITH_TIMEOUT(!rows().isEmpty(), 10000);
        QCOMPARE(rows(), QStringList({u"2026-12-04 23:13:09"_qs, u"O'Neil"_qs, u"say \"hi\""_qs}));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(u"pgpeek"_qs);
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
    }

    void endsWithStatusOneWhenNoPortIsFree() {
        std::list<QUdpSocket> held;
        for (int port = 32768; port < 32968; ++port) {
            held.emplace_back().bind(QHostAddress(QHostAddress::LocalHost), quint16(port),
                                     QAbstractSocket::DontShareAddress);
        }
        QTemporaryDir dir;
        QProcess p;
        p.start(tool("quilljot"), {u"--headless"_qs, u"--app-dir"_qs, dir.path(), u"--xap-port"_qs,
                                   QString::number(m_hub.port)});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(p.readAllStandardError().count('\n'), 1);
        QFile log(dir.path() + u"/Data/xapzelQuilljot/xapzelQuilljot.txt"_qs);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("xapzelQuilljot xAP Init Error -1 occurred 0 \r\n"));
        QVERIFY(!QFileInfo::exists(dir.path() + u"/Data/xapzelQuilljot.mdb"_qs));
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
