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

#include <list>
#include "TestProcesses.h"

// Bad days, with the real programs and real files: signals in the middle of a burst, a database
// that goes away or is locked by another process, settings and text-log paths that cannot be
// used. Everything is sent on loopback only.

namespace {

// A fresh application folder whose shared settings send to loopback only.
struct AppFolder {
    QTemporaryDir dir;
    AppFolder() {
        QDir().mkpath(path(u"Config"_qs));
        QFile shared(path(u"Config/zelXap.ini"_qs));
        if (shared.open(QIODevice::WriteOnly)) {
            shared.write(
                "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
        }
    }
    QString path(const QString& relative) const { return dir.path() + u'/' + relative; }
    QString database() const { return path(u"Data/xapzelQuilljot.mdb"_qs); }
};

// The logger, headless, as a process; knows the loopback port it listens on.
struct LoggerProcess {
    QProcess process;
    QByteArray err;
    quint16 port = 0;

    bool start(const AppFolder& app, quint16 xapPort) {
        process.start(tool("quilljot"), {u"--headless"_qs, u"--app-dir"_qs, app.dir.path(),
                                         u"--xap-port"_qs, QString::number(xapPort)});
        const QRegularExpression listening(u"listening on 127\\.0\\.0\\.1:(\\d+)"_qs);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            const auto m = listening.match(QString::fromUtf8(stderrText()));
            if (m.hasMatch()) {
                port = quint16(m.captured(1).toUInt());
                return true;
            }
        }
        return false;
    }
    const QByteArray& stderrText() {
        err += process.readAllStandardError();
        return err;
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    ~LoggerProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// A hub on a free loopback port, and a client of it that keeps everything the hub forwards.
struct Hub {
    QProcess process;
    quint16 port = freeUdpPort();
    QUdpSocket listener;
    QList<QByteArray> heard;

    bool start() {
        process.start(tool("xap-hub"),
                      {u"--bind"_qs, u"127.0.0.1"_qs, u"--port"_qs, QString::number(port)});
        if (!process.waitForStarted() || !process.waitForReadyRead(5000)) {
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
    ~Hub() {
        process.terminate();
        process.waitForFinished();
    }
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
    void stopSignalMidBurstKeepsEveryWrittenRow_data() {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void stopSignalMidBurstKeepsEveryWrittenRow() {
        QFETCH(int, sig);
        AppFolder app;
        LoggerProcess logger;
        QVERIFY(logger.start(app, freeUdpPort()));  // no hub: only the burst arrives
        QProcess gen;
        gen.start(tool("loadgen"), {u"--port"_qs, QString::number(logger.port), u"--count"_qs,
                                    u"50000"_qs, u"--rate"_qs, u"20000"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(loggedSequence(app.database()).size() > 2000, 20000);
        QElapsedTimer t;
        t.start();
        logger.signal(sig);
        QVERIFY(logger.process.waitForFinished(10000));
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(logger.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(logger.process.exitCode(), 0);
        gen.waitForFinished(30000);

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
        const QList<int> seqs = loggedSequence(app.database());
        QCOMPARE(seqs.size(), n(2));
        QVERIFY(std::is_sorted(seqs.begin(), seqs.end()));
        QVERIFY(seqs.size() < 50000);  // it did stop in the middle
    }

    void killMidBurstLeavesAnOrderedPrefix() {
        AppFolder app;
        LoggerProcess logger;
        QVERIFY(logger.start(app, freeUdpPort()));
        QProcess gen;
        gen.start(tool("loadgen"), {u"--port"_qs, QString::number(logger.port), u"--count"_qs,
                                    u"50000"_qs, u"--rate"_qs, u"10000"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(loggedSequence(app.database()).size() > 2000, 20000);
        logger.signal(SIGKILL);
        QVERIFY(logger.process.waitForFinished(5000));
        gen.kill();
        gen.waitForFinished();
        QString integrity;
        const QList<int> seqs = loggedSequence(app.database(), &integrity);
        QCOMPARE(integrity, u"ok"_qs);
        QVERIFY(seqs.size() > 2000);
        QVERIFY2(isRun(seqs, 1, int(seqs.size())), "not a prefix of the burst in order");
    }

    void unusableDatabaseCostsOneReportPerEventAndRecovers_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("file replaced by a folder") << u"folder"_qs;
        QTest::newRow("locked by another process") << u"lock"_qs;
        QTest::newRow("its folder deleted") << u"deleted"_qs;
    }
    void unusableDatabaseCostsOneReportPerEventAndRecovers() {
        QFETCH(QString, fault);
        AppFolder app;
        Hub hub;
        QVERIFY(hub.start());
        LoggerProcess logger;
        QVERIFY(logger.start(app, hub.port));
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
        AppFolder app;
        const QByteArray settings = QFile::encodeName(app.path(u"Config/zelXapQuilljot.ini"_qs));
        if (kind == u"folder") {
            QVERIFY(::mkdir(settings.constData(), 0755) == 0);
        } else if (kind == u"pipe") {
            QVERIFY(::mkfifo(settings.constData(), 0644) == 0);
        } else {
            QVERIFY(::symlink("zelXapQuilljot.ini", settings.constData()) == 0);
        }
        Hub hub;
        QVERIFY(hub.start());
        LoggerProcess logger;
        QVERIFY(logger.start(app, hub.port));
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
        AppFolder app;
        QDir().mkpath(app.path(u"Data"_qs));
        QFile inTheWay(app.path(u"Data/xapzelQuilljot"_qs));
        QVERIFY(inTheWay.open(QIODevice::WriteOnly));
        inTheWay.close();

        // Running: start-up and the logging settings both ask for the folder; one report.
        {
            Hub hub;
            QVERIFY(hub.start());
            LoggerProcess logger;
            QVERIFY(logger.start(app, hub.port));
            QTRY_VERIFY_WITH_TIMEOUT(hub.reports("CreateFolders") >= 1, 10000);
            QTest::qWait(1000);
            QCOMPARE(hub.reports("CreateFolders"), 1);
            QVERIFY(hub.reports("a file of that name is in the way") == 1);
            QCOMPARE(logger.process.state(), QProcess::Running);
        }
        // Failing to start: the line meant for the text log cannot be written; said on stderr.
        std::list<QUdpSocket> held;
        for (int port = 32768; port < 32968; ++port) {
            held.emplace_back().bind(QHostAddress(QHostAddress::LocalHost), quint16(port),
                                     QAbstractSocket::DontShareAddress);
        }
        LoggerProcess failing;
        QVERIFY(!failing.start(app, freeUdpPort()));
        QVERIFY(failing.process.state() == QProcess::NotRunning ||
                failing.process.waitForFinished(10000));
        QCOMPARE(failing.process.exitCode(), 1);
        const QByteArray err = failing.stderrText();
        QCOMPARE(err.count("cannot write the text log"), 1);
        QVERIFY(err.contains("could not start"));
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
