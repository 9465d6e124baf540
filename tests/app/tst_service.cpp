#include <signal.h>
#include <unistd.h>
#include <QDirIterator>
#include <QProcess>
#include <QTcpServer>
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
        out.append(f.filePath() + u' ' + (f.isDir() ? u"dir"_qs : QString::number(f.size())) +
                   u' ' + QString::number(f.lastModified().toMSecsSinceEpoch()));
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
        QVERIFY2(said.contains(u"pid "_qs + QString::number(first.process.processId())),
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
        QTest::newRow("settings unreadable") << u"settings"_qs << u"Cannot read settings file"_qs;
        QTest::newRow("database not SQLite") << u"database"_qs << u"is not a SQLite database"_qs;
    }
    // Headless, each report also goes to standard error, once; the start-up line names the
    // database and the table, and does not repeat as a report.
    void problemsAtStartAreOneJournalLineEach() {
        QFETCH(QString, fault);
        QFETCH(QString, line);
        AppFolder app;
        if (fault == u"settings") {
            QVERIFY(QDir().mkpath(app.path(u"Config/zelXapQuilljot.ini"_qs)));
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
        QVERIFY2(!err.contains(u"Using xAP port"_qs), qPrintable(err));
        if (fault == u"database") {
            QVERIFY2(err.contains(u", database file "_qs + app.database() +
                                  u", table tblQuilljot (not open), data in "_qs),
                     qPrintable(err));
        }
        for (const QString& l : err.split(u'\n', Qt::SkipEmptyParts)) {
            QVERIFY2(l.startsWith(u"quilljot: "_qs), qPrintable(l));
        }
    }

    // Shared settings that cannot be read leave the defaults: a destination off this host. In a
    // network namespace of the test's own, with loopback alone, nothing can leave; the logger
    // says both, once each.
    void unreadableNetworkSettingsAndLoopbackOnlyAreSaidOnce() {
        AppFolder app;
        QVERIFY(QFile::remove(app.path(u"Config/zelXap.ini"_qs)));
        QVERIFY(QDir().mkpath(app.path(u"Config/zelXap.ini"_qs)));
        QProcess logger;
        logger.start(
            u"unshare"_qs,
            {u"-n"_qs, u"sh"_qs, u"-c"_qs, u"ip link set lo up 2>/dev/null; exec \"$0\" \"$@\""_qs,
             tool("quilljot"), u"--headless"_qs, u"--app-dir"_qs, app.dir.path(), u"--xap-port"_qs,
             QString::number(freeUdpPort())});
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
            QSKIP(
                qPrintable(u"no network namespace, or the host's name resolves to an address "
                           "it lacks: "_qs +
                           QString::fromUtf8(err)));
        }
        ::kill(pid_t(logger.processId()), SIGTERM);
        QVERIFY(logger.waitForFinished(10000));
        err += logger.readAllStandardError();
        const QString said = QString::fromUtf8(err);
        QCOMPARE(said.count(u"network settings not read, the defaults apply: Cannot read"_qs), 1);
        QCOMPARE(said.count(u"No network interface is up"_qs), 1);
    }

    void checkConfig_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("notADatabase");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("defaults") << QByteArray() << false << 0
                                  << QStringList{u"database            file "_qs,
                                                 u"it would be made"_qs, u"tblQuilljot"_qs,
                                                 u"the settings can be used"_qs};
        QTest::newRow("relative database, other table")
            << QByteArray("[Quilljot]\nDatabase=db/events.sqlite\nDatabaseTable=tblOther\n")
            << false << 0
            << QStringList{u"/db/events.sqlite: does not exist yet"_qs,
                           u"table               tblOther"_qs};
        QTest::newRow("a file that is no database, a file for the text log's folder")
            << QByteArray() << true << 1
            << QStringList{u"problem: The file "_qs, u"is not a SQLite database"_qs,
                           u"/Data/xapzelQuilljot is a file where the logger needs a folder"_qs,
                           u"2 problems found"_qs};
        QTest::newRow("engine, table and a line that is no setting")
            << QByteArray("[Quilljot]\nEngine=oracle\nDatabaseTable=a-b\nnonsense\n") << false << 1
            << QStringList{u"problem: Engine must be file, sqlserver or postgresql"_qs,
                           u"problem: DatabaseTable must be a plain name"_qs,
                           u"problem: IniTool: Equal sign not found on line nonsense"_qs};
        QTest::newRow("database server that does not answer")
            << QByteArray("[Quilljot]\nEngine=postgresql\nSQLSource=127.0.0.1," +
                          QByteArray::number(freeUdpPort()) +
                          "; User ID=u; Password=hush\nDatabase=HomeLog\n")
            << false << 1
            << QStringList{u"PostgreSQL database HomeLog on 127.0.0.1,"_qs,
                           u"problem: Cannot connect to PostgreSQL"_qs};
    }
    // What it would use and each problem, status 0 or 1, and not one file made or touched.
    void checkConfig() {
        QFETCH(QByteArray, settings);
        QFETCH(bool, notADatabase);
        QFETCH(int, status);
        QFETCH(QStringList, said);
        AppFolder app;
        if (!settings.isEmpty()) {
            QVERIFY(writeFile(app.path(u"Config/zelXapQuilljot.ini"_qs), settings));
        }
        if (notADatabase) {
            QVERIFY(writeFile(app.database(), "a spreadsheet, say"));
            QVERIFY(writeFile(app.path(u"Data/xapzelQuilljot"_qs), "not a folder"));
        }
        const QStringList before = listing(app.dir.path());
        const Run r = quilljot({u"--check-config"_qs, u"--app-dir"_qs, app.dir.path()});
        QCOMPARE(listing(app.dir.path()), before);
        QCOMPARE(r.status, status);
        const QString out = QString::fromUtf8(r.out);
        for (const QString& s : said) {
            QVERIFY2(out.contains(s), qPrintable(s + u"\n---\n"_qs + out));
        }
        QVERIFY(!out.contains(u"hush"_qs));
        QVERIFY(out.contains(u"application folder  "_qs + app.dir.path()));
    }

    // A database a logger made and left, and a running logger, are seen; still nothing changes.
    void checkConfigBesideARunningLogger() {
        AppFolder app;
        LoggerProcess logger;
        QVERIFY(logger.start(app, freeUdpPort()));
        const QStringList before = listing(app.path(u"Config"_qs));
        const Run r = quilljot({u"--check-config"_qs, u"--app-dir"_qs, app.dir.path()});
        QCOMPARE(r.status, 0);
        QVERIFY2(QString::fromUtf8(r.out).contains(u"running logger      pid "_qs +
                                                   QString::number(logger.process.processId())),
                 r.out.constData());
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        const QStringList stopped = listing(app.dir.path());
        const Run again = quilljot({u"--check-config"_qs, u"--app-dir"_qs, app.dir.path()});
        QCOMPARE(listing(app.dir.path()), stopped);
        QVERIFY2(again.out.contains("is a SQLite database with the table"), again.out.constData());
        QVERIFY(again.out.contains("running logger      none"));
        QCOMPARE(listing(app.path(u"Config"_qs)), before);

        // A folder that is not there is not made.
        const QString missing = app.path(u"not/yet"_qs);
        const Run notYet = quilljot({u"--check-config"_qs, u"--app-dir"_qs, missing});
        QVERIFY(QString::fromUtf8(notYet.out)
                    .startsWith(u"application folder  "_qs + missing + u" (would be made)"_qs));
        QVERIFY(!QFileInfo::exists(app.path(u"not"_qs)));
    }

    // --check-config --web PORT says whether the page could be served there: a port another
    // program holds is a problem (status 1), a free one is named as the page's address.
    void checkConfigSaysWhetherTheWebPageCouldBeServed() {
        AppFolder app;
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        const QString held = QString::number(holder.serverPort());
        const Run taken =
            quilljot({u"--check-config"_qs, u"--app-dir"_qs, app.dir.path(), u"--web"_qs, held});
        QCOMPARE(taken.status, 1);
        QVERIFY2(taken.out.contains(QByteArray("web page: problem: port " + held.toLatin1())),
                 taken.out.constData());
        holder.close();
        const Run free =
            quilljot({u"--check-config"_qs, u"--app-dir"_qs, app.dir.path(), u"--web"_qs, held});
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
        probe.start(u"unshare"_qs, {u"-m"_qs, u"true"_qs});
        if (!probe.waitForFinished(5000) || probe.exitCode() != 0) {
            QSKIP("no mount namespace to install the program into");
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"QUILLJOT_HOME"_qs);
        env.insert(u"HOME"_qs, home.path());
        const QString install =
            u"mount -t tmpfs tmpfs /opt && mkdir -p /opt/quilljot/bin && "
            "cp \"$1\" /opt/quilljot/bin/ && "_qs;
        QString script = install + u"/opt/quilljot/bin/quilljot --check-config"_qs;
        auto installed = [&](const QString& dataHome) {
            if (dataHome.isEmpty()) {
                env.remove(u"XDG_DATA_HOME"_qs);
            } else {
                env.insert(u"XDG_DATA_HOME"_qs, dataHome);
            }
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(u"unshare"_qs,
                    {u"-m"_qs, u"sh"_qs, u"-c"_qs, script, u"sh"_qs, tool("quilljot")});
            p.waitForFinished(20000);
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        QString out = installed(QString());
        QVERIFY2(out.startsWith(u"application folder  "_qs + home.path() +
                                u"/.local/share/quilljot (would be made)"_qs),
                 qPrintable(out));
        out = installed(home.path() + u"/data"_qs);
        QVERIFY2(out.startsWith(u"application folder  "_qs + home.path() +
                                u"/data/quilljot (would be made)"_qs),
                 qPrintable(out));
        // The web page's password goes where that logger reads its settings.
        script = install +
                 u"echo 'correct horse battery' | "
                 "/opt/quilljot/bin/quilljot --set-web-password"_qs;
        installed(home.path() + u"/data"_qs);
        QVERIFY(readFile(home.path() + u"/data/quilljot/Config/zelXapQuilljot.ini"_qs)
                    .contains("WebPasswordHash"));
        // Run from where it was built, it keeps the program's folder.
        const Run built = quilljot({u"--check-config"_qs}, env);
        QVERIFY2(QString::fromUtf8(built.out).startsWith(
                     u"application folder  "_qs + QFileInfo(tool("quilljot")).absolutePath()),
                 built.out.constData());
    }

    // --check-config and the running logger read the settings through one check: what the one
    // finds, the other reports.
    void checkConfigFindsWhatTheLoggerReports() {
        AppFolder app;
        QVERIFY(writeFile(app.path(u"Config/zelXapQuilljot.ini"_qs),
                          "[Quilljot]\nKeepDays=-5\nDatabse=x.db\n[Rules]\n"
                          "Include1=xAPBSC.event acme..lights extra words\n"));
        const Run check = quilljot({u"--check-config"_qs, u"--app-dir"_qs, app.dir.path()});
        QCOMPARE(check.status, 1);
        QStringList problems;
        for (const QString& line : QString::fromUtf8(check.out).split(u'\n')) {
            if (line.startsWith(u"problem: "_qs)) {
                problems.append(line.mid(9));
            }
        }
        QCOMPARE(problems.size(), 3);
        QVERIFY2(problems.join(u'\n').contains(u"nearest known setting is Database"_qs),
                 check.out.constData());
        LoggerProcess logger;
        QVERIFY(logger.start(app, freeUdpPort()));
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        const QString err = QString::fromUtf8(logger.stderrText());
        for (const QString& p : problems) {
            QVERIFY2(err.contains(p), qPrintable(p + u"\n---\n"_qs + err));
        }
    }

    void refusesToStartWithoutASpool_data() {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("cause");
        QTest::newRow("application folder not the user's")
            << u"app"_qs << u"nobody"_qs << u"Data"_qs << u"Permission denied"_qs;
        QTest::newRow("data folder not the user's")
            << u"data"_qs << u"nobody"_qs << u"Data/spool"_qs << u"Permission denied"_qs;
        QTest::newRow("a file in the spool's place") << u"file"_qs << u"root"_qs << u"Data/spool"_qs
                                                     << u"a file of that name is in the way"_qs;
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
            QVERIFY(QDir().mkpath(app.path(u"Data"_qs)));
        } else if (blocker == u"file") {
            QVERIFY(writeFile(app.path(u"Data/spool"_qs), "not a folder"));
        }
        QStringList command{tool("quilljot"), u"--headless"_qs, u"--app-dir"_qs,
                            app.dir.path(),   u"--xap-port"_qs, QString::number(freeUdpPort())};
        if (user != u"root") {
            command = QStringList{u"--reuid=nobody"_qs, u"--regid=nogroup"_qs, u"--clear-groups"_qs,
                                  u"--"_qs} +
                      command;
            command.prepend(u"setpriv"_qs);
        }
        QProcess p;
        p.start(command.takeFirst(), command);
        QVERIFY(p.waitForFinished(20000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        const QString why = u"Cannot make the folder "_qs + app.path(folder) + u" as user "_qs +
                            user + u": "_qs + cause;
        for (const QString& part : {why, u"does not start"_qs}) {
            QVERIFY2(err.contains(part), qPrintable(part + u"\n---\n"_qs + err));
        }
        QVERIFY(!err.contains(u"listening"_qs));
    }

    // A real usage line; every option listed does what it says; bad arguments end with 2.
    void commandLine() {
        const Run help = quilljot({u"--help"_qs});
        QCOMPARE(help.status, 0);
        QVERIFY2(help.out.startsWith("Usage: quilljot "), help.out.constData());
        QVERIFY(!help.out.contains("<executable_name>"));
        QVERIFY(!help.out.contains("--help-all"));
        const Run helpAll = quilljot({u"--help-all"_qs, u"--app-dir"_qs, u"/nonexistent"_qs});
        QCOMPARE(helpAll.status, 0);
        QCOMPARE(helpAll.out, help.out);
        QVERIFY(quilljot({u"--version"_qs}).out.startsWith("quilljot "));
        for (const QStringList& bad : QList<QStringList>{{u"--bogus"_qs},
                                                         {u"stray"_qs},
                                                         {u"--xap-port"_qs, u"0"_qs},
                                                         {u"--show"_qs, u"everything"_qs},
                                                         {u"--check-config"_qs, u"--echo"_qs},
                                                         {u"--app-dir"_qs}}) {
            const Run r = quilljot(bad);
            QVERIFY2(r.status == 2, qPrintable(bad.join(u' ')));
            QVERIFY(r.err.startsWith("quilljot: "));
        }
    }
};

QTEST_GUILESS_MAIN(ServiceTest)
#include "tst_service.moc"
