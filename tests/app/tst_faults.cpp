#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

#include "SqliteRows.h"
#include "TestFiles.h"
#include "TestProcesses.h"

// Bad days, with the real programs and real files: signals in the middle of a burst, a database
// that goes away or is locked by another process, settings and text-log paths that cannot be
// used. Everything is sent on loopback only.

namespace {

// Sequence numbers of the load generator's events in the log table, in row order.
QList<int> loggedSequence(const QString& database) {
    QList<int> seqs;
    for (const QStringList& row : sqliteRows(
             database,
             QStringLiteral("SELECT Data FROM tblQuilljot WHERE Category = 'Bench' ORDER BY ID"))) {
        seqs.append(row[0].mid(4, 10).toInt());
    }
    return seqs;
}

}  // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void signalMidBurst_data() {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }
    // A stop keeps every row written and accounts for every datagram; a kill leaves a database
    // that opens cleanly; both leave the events before it, in order.
    void signalMidBurst() {
        QFETCH(int, sig);
        AppFolder app;
        LoggerProcess logger;
        QVERIFY(logger.start(app, freeUdpPort()));  // no hub: only the burst arrives
        QProcess gen;
        gen.start(tool("loadgen"), {QStringLiteral("--port"), QString::number(logger.port),
                                    QStringLiteral("--count"), QStringLiteral("60000"),
                                    QStringLiteral("--rate"), QStringLiteral("20000")});
        QTRY_VERIFY_WITH_TIMEOUT(loggedSequence(app.database()).size() > 2000, 20000);
        QElapsedTimer t;
        t.start();
        logger.signal(sig);
        QVERIFY(logger.process.waitForFinished(10000));
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        gen.kill();
        gen.waitForFinished();
        QCOMPARE(sqliteRows(app.database(), QStringLiteral("PRAGMA integrity_check")),
                 QList<QStringList>{{QStringLiteral("ok")}});
        const QList<int> seqs = loggedSequence(app.database());
        QVERIFY(seqs.size() > 2000 && seqs.size() < 60000);  // it did stop in the middle
        QVERIFY2(seqs == numbers(1, int(seqs.size())), "not a prefix of the burst in order");
        if (sig == SIGKILL) {
            return;
        }
        QCOMPARE(logger.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(logger.process.exitCode(), 0);
        const QString err = QString::fromUtf8(logger.stderrText());
        const auto m =
            QRegularExpression(
                QStringLiteral(
                    "stopped: (\\d+) datagrams received, (\\d+) rows written, (\\d+) spooled, "
                    "(\\d+) "
                    "rejected, (\\d+) messages written, (\\d+) messages spooled, (\\d+) other "
                    "messages, (\\d+) kept for the next start, (\\d+) dropped; (\\d+) dropped by "
                    "the "
                    "system before they were received\\n"))
                .match(err);
        QVERIFY2(m.hasMatch(), qPrintable(err));
        QCOMPARE(err.count(QStringLiteral("stopped:")), 1);
        const auto n = [&](int i) { return m.captured(i).toLongLong(); };
        QCOMPARE(n(1), n(2) + n(3) + n(4) + n(5) + n(6) + n(7) + n(8) + n(9));
        QCOMPARE(n(3) + n(4) + n(9) + n(10), 0);
        // What was received and not stored in time waits on disk for the next start.
        QCOMPARE(seqs.size(), n(2));
    }

    void databaseAwayLosesNothingAndIsReportedOnce_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("file replaced by a folder") << QStringLiteral("folder");
        QTest::newRow("locked by another process") << QStringLiteral("lock");
        QTest::newRow("its folder deleted") << QStringLiteral("deleted");
    }
    // Events that arrive while the database cannot take them wait in the spool and reach the
    // database in order once it can: by itself when the file comes back or the lock goes, after
    // the operator's reload when a new database must be made. One report for the cause.
    void databaseAwayLosesNothingAndIsReportedOnce() {
        QFETCH(QString, fault);
        LoggerBehindHub run;
        auto& [app, hub, logger] = run;
        QVERIFY(run.start());
        // Reading the database from here while the logger writes is part of the test: another
        // program's connection must not take the logger's write-ahead log away.
        QVERIFY(sendEvents(hub.port, 5, 1));
        QTRY_COMPARE_WITH_TIMEOUT(loggedSequence(app.database()), QList<int>({1, 2, 3, 4, 5}),
                                  10000);

        const QString db = app.database();
        QProcess holder;
        if (fault == u"lock") {
            holder.start(QCoreApplication::applicationDirPath() + QStringLiteral("/hold_lock"),
                         {db});
            QVERIFY(holder.waitForReadyRead(5000));
            QCOMPARE(holder.readAllStandardOutput(), QByteArray("locked\n"));
        } else if (fault == u"folder") {
            QVERIFY(QFile::rename(db, db + QStringLiteral(".moved")));
            QVERIFY(QDir().mkdir(db));
        } else {
            QVERIFY(QDir(app.path(QStringLiteral("Data"))).removeRecursively());
        }
        QList<int> expected = {1, 2, 3, 4, 5};
        if (fault == u"lock") {
            // A stream of 5000 events at 1000/s while the lock is held for 10 s. The hub forwards
            // the stream to our listener too: it is read as it comes, so that the logger's
            // reports among it are not lost in a full socket buffer.
            QElapsedTimer held;
            held.start();
            QProcess gen;
            gen.start(tool("loadgen"),
                      {QStringLiteral("--port"), QString::number(hub.port),
                       QStringLiteral("--count"), QStringLiteral("5000"), QStringLiteral("--start"),
                       QStringLiteral("100"), QStringLiteral("--rate"), QStringLiteral("1000")});
            bool finished = false;
            while (held.elapsed() < 10000 || !finished) {
                finished = finished || gen.waitForFinished(10);
                hub.listener.waitForReadyRead(10);
                hub.reports("");
            }
            QCOMPARE(gen.exitCode(), 0);
            expected += numbers(100, 5000);
        } else {
            QVERIFY(sendEvents(hub.port, 10, 100, 50));
            expected += numbers(100, 10);
        }
        QTRY_VERIFY_WITH_TIMEOUT(hub.reports("Data=Readmessage") >= 1, 10000);
        QTest::qWait(1500);  // the reports come back through the hub: none may add another
        QCOMPARE(hub.failureReports(), 1);
        QVERIFY(hub.reports("kept in the spool") == 1);
        QCOMPARE(logger.process.state(), QProcess::Running);

        if (fault == u"lock") {
            holder.closeWriteChannel();  // the lock is released: logging goes on by itself
            QVERIFY(holder.waitForFinished(5000));
        } else if (fault == u"folder") {
            QVERIFY(QDir().rmdir(db));
            QVERIFY(QFile::rename(db + QStringLiteral(".moved"), db));  // found again by itself
        } else {
            expected = expected.mid(5);  // a new database in a new folder
            logger.signal(SIGHUP);       // the operator's reopen makes it
            QTRY_VERIFY(logger.stderrText().contains("SIGHUP"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(hub.reports("Spool written") == 1, 20000);
        QVERIFY(sendEvents(hub.port, 5, 9000));
        expected += numbers(9000, 5);
        QTRY_COMPARE_WITH_TIMEOUT(loggedSequence(db), expected, 20000);
        QVERIFY(!QFileInfo::exists(app.path(QStringLiteral("Data/spool/events.spool"))));
    }

    // Killed while events wait in the spool: the next start writes each of them once, in order.
    void killedWithASpoolStartsWithIt() {
        AppFolder app;
        {
            LoggerProcess logger;
            QVERIFY(logger.start(app, freeUdpPort()));
            QVERIFY(sendEvents(logger.port, 3, 1));
            QTRY_COMPARE_WITH_TIMEOUT(loggedSequence(app.database()).size(), 3, 10000);
            QProcess holder;
            holder.start(QCoreApplication::applicationDirPath() + QStringLiteral("/hold_lock"),
                         {app.database()});
            QVERIFY(holder.waitForReadyRead(5000));
            QVERIFY(sendEvents(logger.port, 300, 100, 3000));
            const QString spool = app.path(QStringLiteral("Data/spool/events.spool"));
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(spool).size() > 300 * 100, 10000);
            QTest::qWait(300);  // the last pass reaches the disk
            logger.signal(SIGKILL);
            QVERIFY(logger.process.waitForFinished(5000));
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(5000));
        }
        LoggerProcess again;
        QVERIFY(again.start(app, freeUdpPort()));
        const QList<int> expected = numbers(1, 3) + numbers(100, 300);
        QTRY_COMPARE_WITH_TIMEOUT(loggedSequence(app.database()), expected, 15000);
        again.signal(SIGTERM);
        QVERIFY(again.process.waitForFinished(10000));
        QVERIFY2(again.stderrText().contains("300 rows of an earlier run's spool written"),
                 again.stderrText().constData());
    }

    void unusablePathsAreSaidOnceAndTheProgramRuns_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("said");
        const QByteArray settings = "Cannot read settings file";
        QTest::newRow("settings: a pipe") << QStringLiteral("pipe") << settings;
        QTest::newRow("settings: a link to itself") << QStringLiteral("link") << settings;
        // Start-up and the logging settings both ask for the folder: one report.
        QTest::newRow("text log folder: a file")
            << QStringLiteral("text log") << QByteArray("CreateFolders");
    }
    void unusablePathsAreSaidOnceAndTheProgramRuns() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, said);
        LoggerBehindHub run;
        auto& [app, hub, logger] = run;
        const QByteArray settings =
            QFile::encodeName(app.path(QStringLiteral("Config/zelXapQuilljot.ini")));
        if (kind == u"pipe") {
            QVERIFY(::mkfifo(settings.constData(), 0644) == 0);
        } else if (kind == u"link") {
            QVERIFY(::symlink("zelXapQuilljot.ini", settings.constData()) == 0);
        } else {
            QVERIFY(writeFile(app.path(QStringLiteral("Data/xapzelQuilljot")), QByteArray()));
        }
        QVERIFY(run.start());
        QTRY_VERIFY_WITH_TIMEOUT(hub.reports(said) >= 1, 10000);
        QTest::qWait(1000);
        QCOMPARE(hub.reports(said), 1);
        if (kind == u"text log") {
            QCOMPARE(hub.reports("a file of that name is in the way"), 1);
        }
        QCOMPARE(logger.process.state(), QProcess::Running);
        QProcess echo;
        echo.start(
            tool("xap-send"),
            {QStringLiteral("--port"), QString::number(hub.port), QStringLiteral("--class"),
             QStringLiteral("VOZ.Echo"), QStringLiteral("--section"), QStringLiteral("Echo.Query"),
             QStringLiteral("Query=PING"), QStringLiteral("--wait"), QStringLiteral("2")});
        QVERIFY(echo.waitForFinished(10000));
        QVERIFY(echo.readAllStandardOutput().contains("Response=ping"));
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
