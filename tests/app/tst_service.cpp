#include <signal.h>
#include <unistd.h>
#include <QDirIterator>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "TestFiles.h"
#include "TestProcesses.h"

// The logger as a service meets it: a second start on the same folder, problems said on standard
// error (the journal), --check-config, the folder an installed program uses, and its command
// line. Real processes; everything sent stays on loopback.

namespace {

Run quilljot(const QStringList& args, const QProcessEnvironment& env = {}) {
    return runProgram("quilljot", args, env);
}

// Every path below `root` with its kind, size and time of change: what "nothing changed" means.
QStringList listing(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        out.append(f.filePath() + u' ' +
                   (f.isDir() ? QStringLiteral("dir") : QString::number(f.size())) + u' ' +
                   QString::number(f.lastModified().toMSecsSinceEpoch()));
    }
    out.sort();
    return out;
}

}  // namespace

class ServiceTest : public QObject {
    Q_OBJECT

private slots:
    // The second logger on a folder refuses with one line naming the folder and the first one's
    // pid, and leaves the first running; once the first is killed, the lock it left is no
    // obstacle.
    void oneLoggerPerFolderAlsoAfterAKill() {
        AppFolder app;
        const quint16 xapPort = freeUdpPort();
        LoggerProcess first;
        QVERIFY(first.start(app, xapPort));

        LoggerProcess second;
        QVERIFY(!second.start(app, xapPort));
        QTRY_COMPARE_WITH_TIMEOUT(second.process.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.process.exitCode(), 1);
        const QString said = QString::fromUtf8(second.stderrText());
        QCOMPARE(said.count(u'\n'), 1);
        QVERIFY2(said.contains(app.dir.path()), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("pid ") + QString::number(first.process.processId())),
                 qPrintable(said));
        QCOMPARE(first.process.state(), QProcess::Running);

        first.signal(SIGKILL);
        QVERIFY(first.process.waitForFinished(5000));
        LoggerProcess third;
        QVERIFY2(third.start(app, xapPort), third.stderrText().constData());
    }

    void problemsAtStartAreOneJournalLineEach_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("line");
        QTest::newRow("settings unreadable")
            << QStringLiteral("settings") << QStringLiteral("Cannot read settings file");
        QTest::newRow("database not SQLite")
            << QStringLiteral("database") << QStringLiteral("is not a SQLite database");
    }
    // Headless, each report also goes to standard error, once; the start-up line names the
    // database and the table, and does not repeat as a report.
    void problemsAtStartAreOneJournalLineEach() {
        QFETCH(QString, fault);
        QFETCH(QString, line);
        AppFolder app;
        if (fault == u"settings") {
            QVERIFY(QDir().mkpath(app.path(QStringLiteral("Config/zelXapQuilljot.ini"))));
        } else {
            QVERIFY(writeFile(app.database(), "a spreadsheet, say"));
        }
        LoggerProcess logger;
        QVERIFY(logger.start(app, freeUdpPort()));
        QTest::qWait(1000);
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        const QString err = QString::fromUtf8(logger.stderrText());
        QCOMPARE(err.count(line), 1);
        QVERIFY2(!err.contains(QStringLiteral("Using xAP port")), qPrintable(err));
        if (fault == u"database") {
            QVERIFY2(err.contains(QStringLiteral(", database file ") + app.database() +
                                  QStringLiteral(", table tblQuilljot (not open), data in ")),
                     qPrintable(err));
        }
        for (const QString& l : err.split(u'\n', Qt::SkipEmptyParts)) {
            QVERIFY2(l.startsWith(QStringLiteral("quilljot: ")), qPrintable(l));
        }
    }

    // Shared settings that cannot be read leave the defaults: a destination off this host, so the
    // logger runs in a network namespace of the test's own, with loopback alone, where nothing
    // can leave. It says so once. (That loopback alone is said once is tst_network's
    // withoutInterfacesSaysItUsesLoopback.)
    void unreadableNetworkSettingsAreSaidOnce() {
        AppFolder app;
        QVERIFY(QFile::remove(app.path(QStringLiteral("Config/zelXap.ini"))));
        QVERIFY(QDir().mkpath(app.path(QStringLiteral("Config/zelXap.ini"))));
        QProcess logger;
        startWithLoopbackOnly(
            logger, {QStringLiteral("--headless"), QStringLiteral("--app-dir"), app.dir.path(),
                     QStringLiteral("--xap-port"), QString::number(freeUdpPort())});
        QByteArray err;
        QElapsedTimer t;
        t.start();
        while (!err.contains("listening on") && logger.state() != QProcess::NotRunning &&
               t.elapsed() < 10000) {
            logger.waitForReadyRead(100);
            err += logger.readAllStandardError();
        }
        if (!err.contains("listening on")) {
            logger.kill();
            logger.waitForFinished();
            QSKIP(qPrintable(
                QStringLiteral("no network namespace, or the host's name resolves to an address "
                               "it lacks: ") +
                QString::fromUtf8(err)));
        }
        ::kill(pid_t(logger.processId()), SIGTERM);
        QVERIFY(logger.waitForFinished(10000));
        err += logger.readAllStandardError();
        const QString said = QString::fromUtf8(err);
        QCOMPARE(said.count(
                     QStringLiteral("network settings not read, the defaults apply: Cannot read")),
                 1);
    }

    // With loopback alone (a network namespace of the test's own) and the default destination,
    // --check-config names the address the logger really sends to, as the logger does.
    void checkConfigSendsWhereTheLoggerSends() {
        AppFolder app;
        QVERIFY(QFile::remove(app.path(QStringLiteral("Config/zelXap.ini"))));
        QProcess p;
        startWithLoopbackOnly(
            p, {QStringLiteral("--app-dir"), app.dir.path(), QStringLiteral("--check-config")});
        p.waitForFinished(20000);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        if (!out.contains(QStringLiteral("sending"))) {
            QSKIP("no network namespace");
        }
        QVERIFY2(
            out.contains(QStringLiteral("sending             from 127.0.0.1 to 127.0.0.1:3639")),
            qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("problem: No network interface is up: sending from "
                                             "127.0.0.1 to 127.0.0.1 instead of 255.255.255.255")),
                 qPrintable(out));
    }

    void checkConfig_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("notADatabase");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("defaults") << QByteArray() << false << 0
                                  << QStringList{QStringLiteral("database            file "),
                                                 QStringLiteral("it would be made"),
                                                 QStringLiteral("tblQuilljot"),
                                                 QStringLiteral("the settings can be used")};
        QTest::newRow("relative database, other table")
            << QByteArray("[Quilljot]\nDatabase=db/events.sqlite\nDatabaseTable=tblOther\n")
            << false << 0
            << QStringList{QStringLiteral("/db/events.sqlite: does not exist yet"),
                           QStringLiteral("table               tblOther")};
        QTest::newRow("a file that is no database, a file for the text log's folder")
            << QByteArray() << true << 1
            << QStringList{
                   QStringLiteral("problem: The file "), QStringLiteral("is not a SQLite database"),
                   QStringLiteral("/Data/xapzelQuilljot is a file where the logger needs a folder"),
                   QStringLiteral("2 problems found")};
        QTest::newRow("engine, table and a line that is no setting")
            << QByteArray("[Quilljot]\nEngine=oracle\nDatabaseTable=a-b\nnonsense\n") << false << 1
            << QStringList{
                   QStringLiteral("problem: Engine must be file, sqlserver or postgresql"),
                   QStringLiteral("problem: DatabaseTable must be a plain name"),
                   QStringLiteral("problem: IniTool: Equal sign not found on line nonsense")};
        QTest::newRow("database server that does not answer")
            << QByteArray("[Quilljot]\nEngine=postgresql\nSQLSource=127.0.0.1," +
                          QByteArray::number(freeUdpPort()) +
                          "; User ID=u; Password=hush\nDatabase=HomeLog\n")
            << false << 1
            << QStringList{QStringLiteral("PostgreSQL database HomeLog on 127.0.0.1,"),
                           QStringLiteral("problem: Cannot connect to PostgreSQL")};
    }
    // What it would use and each problem, status 0 or 1, and not one file made or touched.
    void checkConfig() {
        QFETCH(QByteArray, settings);
        QFETCH(bool, notADatabase);
        QFETCH(int, status);
        QFETCH(QStringList, said);
        AppFolder app;
        if (!settings.isEmpty()) {
            QVERIFY(writeFile(app.path(QStringLiteral("Config/zelXapQuilljot.ini")), settings));
        }
        if (notADatabase) {
            QVERIFY(writeFile(app.database(), "a spreadsheet, say"));
            QVERIFY(writeFile(app.path(QStringLiteral("Data/xapzelQuilljot")), "not a folder"));
        }
        const QStringList before = listing(app.dir.path());
        const Run r = quilljot(
            {QStringLiteral("--check-config"), QStringLiteral("--app-dir"), app.dir.path()});
        QCOMPARE(listing(app.dir.path()), before);
        QCOMPARE(r.status, status);
        const QString out = QString::fromUtf8(r.out);
        for (const QString& s : said) {
            QVERIFY2(out.contains(s), qPrintable(s + QStringLiteral("\n---\n") + out));
        }
        QVERIFY(!out.contains(QStringLiteral("hush")));
        QVERIFY(out.contains(QStringLiteral("application folder  ") + app.dir.path()));
    }

    // A database a logger made and left, and a running logger, are seen with where it sends
    // and the page it serves (its port no problem); still nothing changes.
    void checkConfigBesideARunningLogger() {
        AppFolder app;
        LoggerProcess logger;
        const QString webPort = QString::number(freeTcpPort());
        const quint16 xapPort = freeUdpPort();
        QVERIFY(logger.start(app, xapPort, {QStringLiteral("--web"), webPort}));
        QTRY_VERIFY(logger.stderrText().contains("web page at"));
        const QStringList before = listing(app.path(QStringLiteral("Config")));
        const Run r =
            quilljot({QStringLiteral("--check-config"), QStringLiteral("--app-dir"), app.dir.path(),
                      QStringLiteral("--xap-port"), QString::number(xapPort)});
        QCOMPARE(r.status, 0);
        const QString out = QString::fromUtf8(r.out);
        const QString sent = QRegularExpression(QStringLiteral("sending to (\\S+) from (\\S+),"))
                                 .match(QString::fromUtf8(logger.stderrText()))
                                 .capturedTexts()
                                 .mid(1)
                                 .join(u' ');
        const QStringList to = sent.split(u' ');
        QCOMPARE(to.size(), 2);
        for (const QString& said :
             QStringList{QStringLiteral("running logger      pid ") +
                             QString::number(logger.process.processId()),
                         QStringLiteral("  sending           from ") + to[1] +
                             QStringLiteral(" to ") + to[0],
                         QStringLiteral("sending             from ") + to[1] +
                             QStringLiteral(" to ") + to[0],
                         QStringLiteral("web page: http://127.0.0.1:") + webPort +
                             QStringLiteral("/, served by the running logger")}) {
            QVERIFY2(out.contains(said), qPrintable(said + u'\n' + out));
        }
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        const QStringList stopped = listing(app.dir.path());
        const Run again = quilljot(
            {QStringLiteral("--check-config"), QStringLiteral("--app-dir"), app.dir.path()});
        QCOMPARE(listing(app.dir.path()), stopped);
        QVERIFY2(again.out.contains("is a SQLite database with the table"), again.out.constData());
        QVERIFY(again.out.contains("running logger      none"));
        QCOMPARE(listing(app.path(QStringLiteral("Config"))), before);

        // A folder that is not there is not made.
        const QString missing = app.path(QStringLiteral("not/yet"));
        const Run notYet =
            quilljot({QStringLiteral("--check-config"), QStringLiteral("--app-dir"), missing});
        QVERIFY(QString::fromUtf8(notYet.out)
                    .startsWith(QStringLiteral("application folder  ") + missing +
                                QStringLiteral(" (would be made)")));
        QVERIFY(!QFileInfo::exists(app.path(QStringLiteral("not"))));
    }

    // --check-config --web PORT says whether the page could be served there: a port another
    // program holds is a problem (status 1), a free one is named as the page's address.
    void checkConfigSaysWhetherTheWebPageCouldBeServed() {
        AppFolder app;
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        const QString held = QString::number(holder.serverPort());
        const Run taken = quilljot({QStringLiteral("--check-config"), QStringLiteral("--app-dir"),
                                    app.dir.path(), QStringLiteral("--web"), held});
        QCOMPARE(taken.status, 1);
        QVERIFY2(taken.out.contains(QByteArray("web page: problem: port " + held.toLatin1())),
                 taken.out.constData());
        holder.close();
        const Run free = quilljot({QStringLiteral("--check-config"), QStringLiteral("--app-dir"),
                                   app.dir.path(), QStringLiteral("--web"), held});
        QCOMPARE(free.status, 0);
        QVERIFY2(
            free.out.contains(QByteArray("web page: http://127.0.0.1:" + held.toLatin1() + "/")),
            free.out.constData());
    }

    // Without --app-dir, an installed program keeps its data in the user's data folder. /opt of
    // a mount namespace of the test's own stands for the system's.
    void installedProgramUsesTheUsersDataFolder() {
        QTemporaryDir home;
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")});
        if (!probe.waitForFinished(5000) || probe.exitCode() != 0) {
            QSKIP("no mount namespace to install the program into");
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QUILLJOT_HOME"));
        env.insert(QStringLiteral("HOME"), home.path());
        const QString install = QStringLiteral(
            "mount -t tmpfs tmpfs /opt && mkdir -p /opt/quilljot/bin && "
            "cp \"$1\" /opt/quilljot/bin/ && ");
        QString script = install + QStringLiteral("/opt/quilljot/bin/quilljot --check-config");
        auto installed = [&](const QString& dataHome) {
            if (dataHome.isEmpty()) {
                env.remove(QStringLiteral("XDG_DATA_HOME"));
            } else {
                env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
            }
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(QStringLiteral("unshare"),
                    {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                     QStringLiteral("sh"), tool("quilljot")});
            p.waitForFinished(20000);
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        QString out = installed(QString());
        QVERIFY2(out.startsWith(QStringLiteral("application folder  ") + home.path() +
                                QStringLiteral("/.local/share/quilljot (would be made)")),
                 qPrintable(out));
        out = installed(home.path() + QStringLiteral("/data"));
        QVERIFY2(out.startsWith(QStringLiteral("application folder  ") + home.path() +
                                QStringLiteral("/data/quilljot (would be made)")),
                 qPrintable(out));
        // The web page's password goes where that logger reads its settings.
        script = install + QStringLiteral(
                               "echo 'correct horse battery' | "
                               "/opt/quilljot/bin/quilljot --set-web-password");
        installed(home.path() + QStringLiteral("/data"));
        QVERIFY(readFile(home.path() + QStringLiteral("/data/quilljot/Config/zelXapQuilljot.ini"))
                    .contains("WebPasswordHash"));
        // Run from where it was built, it keeps the program's folder.
        const Run built = quilljot({QStringLiteral("--check-config")}, env);
        QVERIFY2(
            QString::fromUtf8(built.out).startsWith(QStringLiteral("application folder  ") +
                                                    QFileInfo(tool("quilljot")).absolutePath()),
            built.out.constData());
    }

    // Run from a checkout's build/bin without --app-dir, --check-config and export say that they
    // read the program's own folder and name the folder make run keeps in the checkout. The
    // checkout is made beside the build, the program linked into it.
    void commandsFromACheckoutNameTheFolderTheyRead() {
        QTemporaryDir checkout(QFileInfo(tool("quilljot")).absolutePath() +
                               QStringLiteral("/../checkout-XXXXXX"));
        const QString root = QDir::cleanPath(checkout.path());
        QVERIFY(QDir().mkpath(root + QStringLiteral("/build/bin")));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/run/Config")));
        QVERIFY(writeFile(root + QStringLiteral("/scripts/run-local"), "#!/bin/sh\n"));
        const QString program = root + QStringLiteral("/build/bin/quilljot");
        QVERIFY(::link(QFile::encodeName(tool("quilljot")).constData(),
                       QFile::encodeName(program).constData()) == 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QUILLJOT_HOME"));
        auto run = [&](const QStringList& args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(program, args);
            p.waitForFinished(20000);
            return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        };
        const QString named = QStringLiteral(
                                  "the program's own folder, as no --app-dir was given; name "
                                  "another with --app-dir DIR (make run's is ") +
                              root + QStringLiteral("/run: --app-dir ") + root +
                              QStringLiteral("/run)");
        const QString check = run({QStringLiteral("--check-config")});
        QVERIFY2(check.startsWith(QStringLiteral("application folder  ") + root +
                                  QStringLiteral("/build/bin (") + named),
                 qPrintable(check));
        const QString exported = run({QStringLiteral("export")});
        QVERIFY2(exported.contains(QStringLiteral("quilljot export: reading ") + root +
                                   QStringLiteral("/build/bin, ") + named),
                 qPrintable(exported));
        QVERIFY(!run({QStringLiteral("--check-config"), QStringLiteral("--app-dir"),
                      root + QStringLiteral("/run")})
                     .contains(QStringLiteral("own folder")));
    }

    // The README's example pasted below the keys a first start wrote, under [QUILLJOT] and
    // [RULES]: each key given twice is named with both lines by --check-config, which lists what
    // the later lines set, and by the logger at start and at each reload.
    void keysGivenTwiceAreNamedAtCheckStartAndReload() {
        AppFolder app;
        const QByteArray defaults =
            "[Quilljot]\nKeepDays=0\nMessagesKeepDays=0\n[Rules]\n"
            "Include1=\nExclude1=\n";
        QVERIFY(writeFile(
            app.path(QStringLiteral("Config/zelXapQuilljot.ini")),
            defaults + "\n[QUILLJOT]\nKEEPDAYS=365\nMESSAGESKEEPDAYS=30\n\n[RULES]\n"
                       "INCLUDE1=xAPBSC.info acme.lights.>\nEXCLUDE1=> acme.sensors.hall\n"));
        // The shared file too, which is read at start only.
        QFile shared(app.path(QStringLiteral("Config/zelXap.ini")));
        QVERIFY(shared.open(QIODevice::Append));
        shared.write("[INTERFACE]\r\nBROADCASTADDRESS=127.0.0.1\r\n");
        shared.close();
        const Run check = quilljot(
            {QStringLiteral("--check-config"), QStringLiteral("--app-dir"), app.dir.path()});
        QCOMPARE(check.status, 1);
        const QString out = QString::fromUtf8(check.out);
        const QStringList repeats =
            out.split(u'\n')
                .filter(QStringLiteral("is given twice"))
                .replaceInStrings(QRegularExpression(QStringLiteral("^problem: ")), QString());
        QCOMPARE(repeats.size(), 5);
        for (const QString& lines :
             {QStringLiteral("zelXap.ini, on line 2 under [Interface] and on line 5 under "
                             "[INTERFACE]"),
              QStringLiteral("on line 2 under [Quilljot] and on line 9 under "
                             "[QUILLJOT]"),
              QStringLiteral("on line 3 under [Quilljot] and on line 10"),
              QStringLiteral("on line 5 under [Rules] and on line 13"),
              QStringLiteral("on line 6 under [Rules] and on line 14")}) {
            QVERIFY2(repeats.filter(lines).size() == 1, qPrintable(lines + u'\n' + out));
        }
        QVERIFY2(out.contains(QStringLiteral("rows older than 365 days")), qPrintable(out));

        LoggerProcess logger;
        QVERIFY(logger.start(app, freeUdpPort()));
        QTRY_VERIFY_WITH_TIMEOUT(logger.stderrText().count("is given twice") == 5, 5000);
        logger.signal(SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(logger.stderrText().count("is given twice") == 9, 5000);
        const QString err = QString::fromUtf8(logger.stderrText());
        for (const QString& r : repeats) {
            QVERIFY2(err.count(r) == (r.contains(QStringLiteral("zelXap.ini")) ? 1 : 2),
                     qPrintable(r + u'\n' + err));
        }
    }

    // A password set while the logger serves its page is asked for once the logger reads its
    // settings again, and not before.
    void webPasswordSetWhileRunningIsAskedForAfterAReload() {
        AppFolder app;
        const quint16 webPort = freeTcpPort();
        LoggerProcess logger;
        QVERIFY(
            logger.start(app, freeUdpPort(), {QStringLiteral("--web"), QString::number(webPort)}));
        auto status = [&] {
            QTcpSocket client;
            client.connectToHost(QHostAddress::LocalHost, webPort);
            if (!client.waitForConnected(5000)) {
                return QByteArray();
            }
            client.write("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" +
                         QByteArray::number(webPort) + "\r\nConnection: close\r\n\r\n");
            QByteArray got;
            while (!got.contains("\r\n") && client.waitForReadyRead(5000)) {
                got += client.readAll();
            }
            return got.mid(9, 3);  // the status code of "HTTP/1.1 200 OK"
        };
        QTRY_COMPARE_WITH_TIMEOUT(status(), QByteArray("200"), 5000);

        QProcess set;
        set.start(tool("quilljot"), {QStringLiteral("--app-dir"), app.dir.path(),
                                     QStringLiteral("--set-web-password")});
        set.write("correct horse battery\n");
        set.closeWriteChannel();
        QVERIFY(set.waitForFinished(20000));
        QCOMPARE(set.exitCode(), 0);
        QVERIFY(set.readAllStandardError().contains("kill -HUP"));
        QCOMPARE(status(), QByteArray("200"));
        logger.signal(SIGHUP);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QByteArray("401"), 5000);
    }

    void refusesToStartWithoutASpool_data() {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("cause");
        QTest::newRow("application folder not the user's")
            << QStringLiteral("app") << QStringLiteral("nobody") << QStringLiteral("Data")
            << QStringLiteral("Permission denied");
        QTest::newRow("data folder not the user's")
            << QStringLiteral("data") << QStringLiteral("nobody") << QStringLiteral("Data/spool")
            << QStringLiteral("Permission denied");
        QTest::newRow("a file in the spool's place")
            << QStringLiteral("file") << QStringLiteral("root") << QStringLiteral("Data/spool")
            << QStringLiteral("a file of that name is in the way");
    }
    // A logger that could keep no spool would drop what the database does not take: it ends with
    // status 1 and says why, where and as whom. Root writes anywhere, so the first two run the
    // program as nobody.
    void refusesToStartWithoutASpool() {
        QFETCH(QString, blocker);
        QFETCH(QString, user);
        QFETCH(QString, folder);
        QFETCH(QString, cause);
        if (::geteuid() != 0) {
            QSKIP("needs root, to run the program as another user");
        }
        AppFolder app;
        QVERIFY(QFile::setPermissions(app.dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadOther |
                                                          QFile::ExeOther));
        if (blocker == u"data") {
            QVERIFY(QDir().mkpath(app.path(QStringLiteral("Data"))));
        } else if (blocker == u"file") {
            QVERIFY(writeFile(app.path(QStringLiteral("Data/spool")), "not a folder"));
        }
        QStringList command{
            tool("quilljot"), QStringLiteral("--headless"), QStringLiteral("--app-dir"),
            app.dir.path(),   QStringLiteral("--xap-port"), QString::number(freeUdpPort())};
        if (user != u"root") {
            command =
                QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                            QStringLiteral("--clear-groups"), QStringLiteral("--")} +
                command;
            command.prepend(QStringLiteral("setpriv"));
        }
        QProcess p;
        p.start(command.takeFirst(), command);
        QVERIFY(p.waitForFinished(20000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        const QString why = QStringLiteral("Cannot make the folder ") + app.path(folder) +
                            QStringLiteral(" as user ") + user + QStringLiteral(": ") + cause;
        for (const QString& part : {why, QStringLiteral("does not start")}) {
            QVERIFY2(err.contains(part), qPrintable(part + QStringLiteral("\n---\n") + err));
        }
        QVERIFY(!err.contains(QStringLiteral("listening")));
    }

    // A real usage line; every option listed does what it says; bad arguments end with 2.
    void commandLine() {
        const Run help = quilljot({QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        QVERIFY2(help.out.startsWith("Usage: quilljot "), help.out.constData());
        QVERIFY(!help.out.contains("<executable_name>"));
        QVERIFY(!help.out.contains("--help-all"));
        const Run helpAll = quilljot({QStringLiteral("--help-all"), QStringLiteral("--app-dir"),
                                      QStringLiteral("/nonexistent")});
        QCOMPARE(helpAll.status, 0);
        QCOMPARE(helpAll.out, help.out);
        QVERIFY(quilljot({QStringLiteral("--version")}).out.startsWith("quilljot "));
        for (const QStringList& bad :
             QList<QStringList>{{QStringLiteral("--bogus")},
                                {QStringLiteral("stray")},
                                {QStringLiteral("--xap-port"), QStringLiteral("0")},
                                {QStringLiteral("--show"), QStringLiteral("everything")},
                                {QStringLiteral("--check-config"), QStringLiteral("--echo")},
                                {QStringLiteral("--app-dir")}}) {
            const Run r = quilljot(bad);
            QVERIFY2(r.status == 2, qPrintable(bad.join(u' ')));
            QVERIFY(r.err.startsWith("quilljot: "));
        }
    }
};

QTEST_GUILESS_MAIN(ServiceTest)
#include "tst_service.moc"
