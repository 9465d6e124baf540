#include <signal.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUdpSocket>
#include <QtTest>

#include <functional>

#include "ServerBackends.h"
#include "TestEngines.h"
#include "TestProcesses.h"
#include "store/ServerSource.h"
#include "store/SqlServerProvider.h"

// A database server that goes away under the running logger, with the real programs: the events
// that come meanwhile wait in the spool and reach the server once it is back, each once and in
// order, and the cause is reported once. Everything is sent on loopback only.

namespace {

// Sequence numbers of the load generator's events in a server's table, in row order, on a
// connection of their own that `configure` points at the server; none while it cannot be read.
QList<int> loggedSequence(const QString& driver,
                          const std::function<void(QSqlDatabase&)>& configure,
                          const QString& table) {
    QList<int> seqs;
    {
        auto db = QSqlDatabase::addDatabase(driver, QStringLiteral("peek"));
        configure(db);
        if (db.open()) {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.exec(QStringLiteral("SELECT Data FROM ") + table +
                   QStringLiteral(" WHERE Category = 'Bench' ORDER BY ID"));
            while (q.next()) {
                seqs.append(q.value(0).toString().mid(4, 10).toInt());
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return seqs;
}

// The same, in `table` of the private PostgreSQL server's database HomeLog.
QList<int> loggedOnPostgres(const PostgresServer& pg, const QString& table) {
    return loggedSequence(
        QStringLiteral("QPSQL"),
        [&](QSqlDatabase& db) {
            db.setHostName(pg.socketFolder);
            db.setPort(pg.port.toInt());
            db.setDatabaseName(QStringLiteral("HomeLog"));
        },
        table);
}

}  // namespace

class OutageTest : public QObject {
    Q_OBJECT

private slots:
    // The logger's session on the server is ended, or the server stops answering, with the
    // logger connected: it connects again by itself and writes what waited, each event once.
    void postgresStoppedAndStartedAgainLosesNothing() {
        PostgresServer pg;
        START_POSTGRES(pg);
        LoggerBehindHub run;
        auto& [app, hub, logger] = run;
        QVERIFY(useDatabase(app.dir.path(),
                            pg.settings(QStringLiteral("HomeLog"), QStringLiteral("tblQuilljot"))));
        QVERIFY(run.start());
        const auto logged = [&] { return loggedOnPostgres(pg, QStringLiteral("tblQuilljot")); };
        QVERIFY(sendEvents(hub.port, 5, 1));
        QTRY_COMPARE_WITH_TIMEOUT(logged(), numbers(1, 5), 10000);

        QVERIFY(pg.stopServer());
        QVERIFY(sendEvents(hub.port, 20, 6, 50));
        QTRY_VERIFY_WITH_TIMEOUT(hub.reports("Data=Readmessage") >= 1, 10000);
        QTest::qWait(1500);  // the retries while the server is down add no report
        QCOMPARE(hub.failureReports(), 1);
        QCOMPARE(hub.reports("kept in the spool"), 1);
        QVERIFY(QFileInfo::exists(app.path(QStringLiteral("Data/spool/events.spool"))));

        QVERIFY(pg.startAgain());
        QTRY_COMPARE_WITH_TIMEOUT(logged(), numbers(1, 25), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(hub.reports("Spool written"), 1, 5000);
        QVERIFY(!QFileInfo::exists(app.path(QStringLiteral("Data/spool/events.spool"))));
        QCOMPARE(hub.failureReports(), 1);
        QCOMPARE(logger.process.state(), QProcess::Running);
    }

    // The server stops answering while 30,000 events arrive as fast as loopback carries them:
    // the writer is held, the ears are not. Every datagram is received (the system drops none),
    // what the memory queue cannot hold waits in a receive spool on disk, an echo query is
    // answered meanwhile, and once the server wakes every event is stored, once and in order.
    void postgresFrozenUnderFullSpeedHoldsNeitherEarsNorOrder() {
        PostgresServer pg;
        START_POSTGRES(pg);
        AppFolder app;
        QVERIFY(useDatabase(app.dir.path(),
                            pg.settings(QStringLiteral("HomeLog"), QStringLiteral("tblFrozen"))));
        QUdpSocket network;  // where the logger sends: its heartbeats and replies
        QVERIFY(network.bind(QHostAddress(QHostAddress::LocalHost), 0));
        LoggerProcess logger;
        QVERIFY(logger.start(app, network.localPort()));
        const auto logged = [&] { return loggedOnPostgres(pg, QStringLiteral("tblFrozen")); };
        QVERIFY(sendEvents(logger.port, 5, 1));
        QTRY_COMPARE_WITH_TIMEOUT(logged(), numbers(1, 5), 10000);

        const QList<qint64> backends = ownBackends(pg.port, logger.process.processId());
        QVERIFY(!backends.isEmpty());
        FrozenBackends frozen(backends);
        QProcess gen;
        gen.start(tool("loadgen"),
                  {QStringLiteral("--port"), QString::number(logger.port),
                   QStringLiteral("--count"), QStringLiteral("30000"), QStringLiteral("--start"),
                   QStringLiteral("6"), QStringLiteral("--rate"), QStringLiteral("0")});
        QVERIFY(gen.waitForFinished(20000));
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(app.path(QStringLiteral("Data/spool")))
                                      .entryList({QStringLiteral("received-*.spool")})
                                      .isEmpty(),
                                 10000);
        while (network.hasPendingDatagrams()) {
            network.receiveDatagram();
        }
        const QByteArray query =
            "xap-header\n{\nv=12\nhop=1\nuid=FF00AA00\nclass=VOZ.Echo\nsource=test.echo.q\n}\n"
            "Echo.Query\n{\nQuery=STILL THERE\n}\n";
        QElapsedTimer asked;
        asked.start();
        QCOMPARE(network.writeDatagram(query, QHostAddress::LocalHost, logger.port),
                 qint64(query.size()));
        bool answered = false;
        while (!answered && asked.elapsed() < 5000) {
            network.waitForReadyRead(50);
            while (network.hasPendingDatagrams()) {
                answered = answered || network.receiveDatagram().data().contains("still there");
            }
        }
        QVERIFY2(answered, "no echo reply while the database was frozen");
        qInfo("echo answered after %lld ms with the database frozen", asked.elapsed());

        frozen.resume();
        QTRY_COMPARE_WITH_TIMEOUT(logged(), numbers(1, 30005), 60000);
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        const QString err = QString::fromUtf8(logger.stderrText());
        QVERIFY2(err.contains(QStringLiteral(" 0 dropped; 0 dropped by the system")),
                 qPrintable(err));
        QVERIFY(QDir(app.path(QStringLiteral("Data/spool")))
                    .entryList({QStringLiteral("received-*")})
                    .isEmpty());
    }

    // On a shared SQL Server only the logger's own session is ended, as a restart of the server
    // or a dropped network would end it; the next write finds it gone.
    void sqlServerConnectionLostLosesNothing_data() {
        QTest::addColumn<bool>("frozen");
        QTest::newRow("session ended") << false;
        QTest::newRow("server frozen") << true;
    }
    void sqlServerConnectionLostLosesNothing() {
        QFETCH(bool, frozen);
        const QList<TestEngine> engines =
            testEngines({},
                        QStringLiteral("tblOutage") +
                            QString::number(QDateTime::currentMSecsSinceEpoch() % 100000000),
                        PostgresServer{});
        if (engines.last().settings.kind != DatabaseKind::SqlServer) {
            QSKIP("needs QUILLJOT_TEST_MSSQL");
        }
        const DatabaseSettings d = engines.last().settings;
        const QString& table = d.table;
        const ServerSource source = ServerSource::parse(d.sqlSource);
        const auto server = [&](QSqlDatabase& db) {
            db.setDatabaseName(
                SqlServerProvider::odbcText(source, d.database, SqlServerProvider::driverName()));
            // A server that does not answer fails the look instead of holding the test.
            db.setConnectOptions(
                QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=5;SQL_ATTR_CONNECTION_TIMEOUT=5"));
        };
        LoggerBehindHub run;
        auto& [app, hub, logger] = run;
        QVERIFY(useDatabase(app.dir.path(), d));
        QVERIFY(run.start());
        QVERIFY(sendEvents(hub.port, 5, 1));
        QTRY_COMPARE_WITH_TIMEOUT(loggedSequence(QStringLiteral("QODBC"), server, table),
                                  numbers(1, 5), 15000);

        const QList<qint64> backends = ownBackends(source.port, logger.process.processId());
        QCOMPARE(backends.size(), 1);
        if (!frozen) {
            signalAll(backends, SIGTERM);
            QVERIFY(sendEvents(hub.port, 20, 6, 50));
        } else {
            // A server that stops answering: the write waits out its timeouts, and meanwhile
            // the events wait in the spool; none is written twice once the server wakes.
            FrozenBackends stopped(backends);
            QVERIFY(sendEvents(hub.port, 20, 6, 50));
            QTRY_VERIFY_WITH_TIMEOUT(
                QFileInfo(app.path(QStringLiteral("Data/spool/events.spool"))).size() > 0, 15000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(loggedSequence(QStringLiteral("QODBC"), server, table),
                                  numbers(1, 25), 20000);
        QTest::qWait(1500);  // any later report has come back through the hub
        QCOMPARE(hub.failureReports(), 1);
        QCOMPARE(hub.reports("kept in the spool"), 1);
        QCOMPARE(hub.reports("Spool written"), 1);
        QVERIFY(!QFileInfo::exists(app.path(QStringLiteral("Data/spool/events.spool"))));
        QCOMPARE(logger.process.state(), QProcess::Running);

        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("drop"));
            server(db);
            if (db.open()) {
                QSqlQuery(QStringLiteral("DROP TABLE ") + table, db);
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("drop"));
    }
};

QTEST_GUILESS_MAIN(OutageTest)
#include "tst_outage.moc"
