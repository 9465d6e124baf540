#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUdpSocket>
#include <QtTest>

#include "TestProcesses.h"

// Bad days, with the real programs and real files: signals in the middle of a burst, a database
// that goes away or is locked by another process, settings and text-log paths that cannot be
// used. Everything is sent on loopback only.

namespace {

// A hub, and a client of it on loopback that keeps everything the hub forwards.
struct Hub : HubProcess {
    QUdpSocket listener;
    QList<QByteArray> heard;

    bool start() {
        if (!HubProcess::start()) {
            return false;
        }
        listener.bind(QHostAddress(QHostAddress::LocalHost), 0);
        listener.writeDatagram(
            "xap-hbeat\n{\nv=12\nhop=1\nuid=FF.1234:00\nclass=xap-hbeat.alive\nsource=test."
            "listener.host\ninterval=60\nport=" +
                QByteArray::number(listener.localPort()) + "\n}\n",
            QHostAddress(QHostAddress::LocalHost), port);
        return true;
    }
    // Event reports of the logger whose data contains `text`.
    int reports(const QByteArray& text) {
        while (listener.hasPendingDatagrams()) {
            QByteArray d(int(listener.pendingDatagramSize()), '\0');
            listener.readDatagram(d.data(), d.size());
            heard.append(d);
        }
        return int(std::count_if(heard.begin(), heard.end(), [&](const QByteArray& d) {
            return d.contains("class=Homeseer.Event") && d.contains("source=zel.Quilljot.") &&
                   d.contains("Type=xapzelQuilljot") && d.contains(text);
        }));
    }
};

// A logger in a fresh application folder, started behind a hub with a listener.
struct LoggerBehindHub {
    AppFolder app;
    Hub hub;
    LoggerProcess logger;
    bool start() { return hub.start() && logger.start(app, hub.port); }
};

bool sendEvents(quint16 port, int count, int start, int rate = 0) {
    QProcess gen;
    gen.start(tool("loadgen"),
              {u"--port"_qs, QString::number(port), u"--count"_qs, QString::number(count),
               u"--start"_qs, QString::number(start), u"--rate"_qs, QString::number(rate)});
    return gen.waitForFinished(60000) && gen.exitCode() == 0;
}

// Sequence numbers of the load generator's events in the log table, in row order.
QList<int> loggedSequence(const QString& database, QString* integrity = nullptr) {
    QList<int> seqs;
    {
        auto db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"peek"_qs);
        db.setDatabaseName(database);
        if (db.open()) {
            QSqlQuery q(db);
            if (integrity != nullptr && q.exec(u"PRAGMA integrity_check"_qs) && q.next()) {
                *integrity = q.value(0).toString();
            }
            q.exec(u"SELECT Data FROM tblQuilljot WHERE Category = 'Bench' ORDER BY ID"_qs);
            while (q.next()) {
                seqs.append(q.value(0).toString().mid(4, 10).toInt());
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(u"peek"_qs);
    return seqs;
}

bool isRun(const QList<int>& seqs, int first, int count) {
    if (seqs.size() != count) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (seqs[i] != first + i) {
            return false;
        }
    }
    return true;
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
        gen.start(tool("loadgen"), {u"--port"_qs, QString::number(logger.port), u"--count"_qs,
                                    u"50000"_qs, u"--rate"_qs, u"10000"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(loggedSequence(app.database()).size() > 2000, 20000);
        QElapsedTimer t;
        t.start();
        logger.signal(sig);
        QVERIFY(logger.process.waitForFinished(10000));
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        gen.kill();
        gen.waitForFinished();
        QString integrity;
        const QList<int> seqs = loggedSequence(app.database(), &integrity);
        QCOMPARE(integrity, u"ok"_qs);
        QVERIFY(seqs.size() > 2000 && seqs.size() < 50000);  // it did stop in the middle
        QVERIFY2(isRun(seqs, 1, int(seqs.size())), "not a prefix of the burst in order");
        if (sig == SIGKILL) {
            return;
        }
        QCOMPARE(logger.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(logger.process.exitCode(), 0);
        const QString err = QString::fromUtf8(logger.stderrText());
        const auto m = QRegularExpression(
                           u"stopped: (\\d+) datagrams received, (\\d+) rows written, (\\d+) rows "
                           "refused, (\\d+) other messages, (\\d+) still queued and dropped\\n"_qs)
                           .match(err);
        QVERIFY2(m.hasMatch(), qPrintable(err));
        QCOMPARE(err.count(u"stopped:"_qs), 1);
        const auto n = [&](int i) { return m.captured(i).toLongLong(); };
        QCOMPARE(n(1), n(2) + n(3) + n(4) + n(5));
        QCOMPARE(n(3), 0);
        QCOMPARE(seqs.size(), n(2));
    }

    void unusableDatabaseCostsOneReportPerEventAndRecovers_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("file replaced by a folder") << u"folder"_qs;
        QTest::newRow("locked by another process") << u"lock"_qs;
        QTest::newRow("its folder deleted") << u"deleted"_qs;
    }
    void unusableDatabaseCostsOneReportPerEventAndRecovers() {
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
            holder.start(QCoreApplication::applicationDirPath() + u"/hold_lock"_qs, {db});
            QVERIFY(holder.waitForReadyRead(5000));
            QCOMPARE(holder.readAllStandardOutput(), QByteArray("locked\n"));
        } else if (fault == u"folder") {
            QVERIFY(QFile::rename(db, db + u".moved"_qs));
            QVERIFY(QDir().mkdir(db));
        } else {
            QVERIFY(QDir(app.path(u"Data"_qs)).removeRecursively());
        }
        QVERIFY(sendEvents(hub.port, 10, 100, 50));
        QTRY_VERIFY_WITH_TIMEOUT(hub.reports("Data=Readmessage") >= 10, 20000);
        QTest::qWait(1500);  // the reports come back through the hub: none may add another
        QCOMPARE(hub.reports("Data=Readmessage"), 10);
        QCOMPARE(logger.process.state(), QProcess::Running);

        QList<int> expected = {1, 2, 3, 4, 5, 200, 201, 202, 203, 204};
        if (fault == u"lock") {
            holder.closeWriteChannel();  // the lock is released: logging goes on by itself
            QVERIFY(holder.waitForFinished(5000));
        } else {
            if (fault == u"folder") {
                QVERIFY(QDir().rmdir(db));
                QVERIFY(QFile::rename(db + u".moved"_qs, db));
            } else {
                expected = expected.mid(5);  // a new database in a new folder
            }
            logger.signal(SIGHUP);  // the operator's reopen
            QTRY_VERIFY(logger.stderrText().contains("SIGHUP"));
        }
        QVERIFY(sendEvents(hub.port, 5, 200));
        QTRY_COMPARE_WITH_TIMEOUT(loggedSequence(db), expected, 10000);
    }

    void unreadableSettingsAreSaidOnceAndTheProgramRuns_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << u"folder"_qs;
        QTest::newRow("pipe") << u"pipe"_qs;
        QTest::newRow("link to itself") << u"link"_qs;
    }
    void unreadableSettingsAreSaidOnceAndTheProgramRuns() {
        QFETCH(QString, kind);
        LoggerBehindHub run;
        auto& [app, hub, logger] = run;
        const QByteArray settings = QFile::encodeName(app.path(u"Config/zelXapQuilljot.ini"_qs));
        if (kind == u"folder") {
            QVERIFY(::mkdir(settings.constData(), 0755) == 0);
        } else if (kind == u"pipe") {
            QVERIFY(::mkfifo(settings.constData(), 0644) == 0);
        } else {
            QVERIFY(::symlink("zelXapQuilljot.ini", settings.constData()) == 0);
        }
        QVERIFY(run.start());
        QTRY_VERIFY_WITH_TIMEOUT(hub.reports("Cannot read settings file") >= 1, 10000);
        QTest::qWait(1000);
        QCOMPARE(hub.reports("Cannot read settings file"), 1);
        QCOMPARE(logger.process.state(), QProcess::Running);
        QProcess echo;
        echo.start(tool("xap-send"),
                   {u"--port"_qs, QString::number(hub.port), u"--class"_qs, u"VOZ.Echo"_qs,
                    u"--section"_qs, u"Echo.Query"_qs, u"Query=PING"_qs, u"--wait"_qs, u"2"_qs});
        QVERIFY(echo.waitForFinished(10000));
        QVERIFY(echo.readAllStandardOutput().contains("Response=ping"));
    }

    void textLogFolderThatIsAFileIsSaidOnce() {
        // Start-up and the logging settings both ask for the folder: one report.
        LoggerBehindHub run;
        auto& [app, hub, logger] = run;
        QDir().mkpath(app.path(u"Data"_qs));
        QFile inTheWay(app.path(u"Data/xapzelQuilljot"_qs));
        QVERIFY(inTheWay.open(QIODevice::WriteOnly));
        inTheWay.close();
        QVERIFY(run.start());
        QTRY_VERIFY_WITH_TIMEOUT(hub.reports("CreateFolders") >= 1, 10000);
        QTest::qWait(1000);
        QCOMPARE(hub.reports("CreateFolders"), 1);
        QVERIFY(hub.reports("a file of that name is in the way") == 1);
        QCOMPARE(logger.process.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
