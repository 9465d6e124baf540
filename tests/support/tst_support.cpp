#include <QtTest>

#include "RecordingSender.h"
#include "TestFiles.h"
#include "support/AppFolders.h"
#include "support/ApplicationReporter.h"
#include "support/DateText.h"
#include "support/OutgoingQueue.h"
#include "support/ProgramNames.h"
#include "support/TextLog.h"

namespace {

QDateTime fixedNow() {
    return QDateTime(QDate(2026, 3, 5), QTime(14, 3, 9));
}

// Reports on their way as the logger wires them: a reporter sending through an outgoing queue to
// a node that records what it is given.
struct ReportPath {
    TextLog log{QString()};
    ApplicationReporter reporter{log, fixedNow};
    OutgoingQueue queue{reporter};
    RecordingSender node;
    ReportPath() {
        reporter.setOutgoing(&queue);
        queue.setSender(&node);
    }
};

QString itemValue(const OutgoingMessage& m, const QString& name) {
    for (const XapItem& it : m.items) {
        if (it.name == name) {
            return it.value;
        }
    }
    return QString();
}

}  // namespace

class SupportTest : public QObject {
    Q_OBJECT

private slots:
    void textLogNeverCreatesItsFolderAndSaysSoOnce() {
        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/Data/xapzelQuilljot");
        QStringList notices;
        TextLog log(AppFolders(dir.path()).textLogPath(),
                    [&](const QString& text) { notices.append(text); });
        log.append(QStringLiteral("b"));
        log.append(QStringLiteral("c"));
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/Data")));
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices[0].startsWith(QStringLiteral("cannot write the text log ") + log.path()));

        QDir().mkpath(folder);
        log.append(QStringLiteral("d"));  // gets through: a later failure is said again
        QVERIFY(QDir(folder).removeRecursively());
        log.append(QStringLiteral("e"));
        QCOMPARE(notices.size(), 2);

        // A folder in the file's place is no text log, and is left alone.
        QDir().mkpath(log.path());
        log.append(QStringLiteral("f"));
        QCOMPARE(notices.size(), 3);
        QVERIFY(notices[2].contains(QStringLiteral("not a regular file")));
    }

    void eventReportsWaitUntilReadyThenGoInOrder() {
        ReportPath path;
        auto& [log, reporter, queue, node] = path;

        reporter.toNetwork(QStringLiteral("xapzelQuilljot"), QStringLiteral("one"));
        reporter.toNetwork(QStringLiteral("xapzelQuilljot"), QStringLiteral("Readmessage"),
                           Problem{ErrorKind::Database, QStringLiteral("D"), 120});
        queue.send(OutgoingMessage{QStringLiteral("t"),
                                   QStringLiteral("c"),
                                   QStringLiteral("s"),
                                   {{QStringLiteral("x"), QStringLiteral("y")}}});
        QVERIFY(node.sent.isEmpty());
        QCOMPARE(queue.waitingMessages().size(), 3);

        queue.setReady(true);
        reporter.toNetwork(QStringLiteral("xapzelQuilljot"), QStringLiteral("four"));
        QCOMPARE(node.sent.size(), 4);
        QCOMPARE(queue.waitingMessages().size(), 0);
        const OutgoingMessage& first = node.sent[0];
        QCOMPARE(first.target, QString());
        QCOMPARE(first.className, QStringLiteral("Homeseer.Event"));
        QCOMPARE(first.block, QStringLiteral("Event.Log"));
        QCOMPARE(first.items,
                 QList<XapItem>({{QStringLiteral("Time"), QStringLiteral("2026-03-05 14:03:09")},
                                 {QStringLiteral("Type"), QStringLiteral("xapzelQuilljot")},
                                 {QStringLiteral("Data"), QStringLiteral("one")}}));
        QCOMPARE(itemValue(node.sent[1], QStringLiteral("Data")),
                 QStringLiteral("Readmessage Line 120 D"));
        QCOMPARE(node.sent[2].target, QStringLiteral("t"));
        QCOMPARE(itemValue(node.sent[3], QStringLiteral("Data")), QStringLiteral("four"));

        // A problem numbered 0 is no failure: the data is the text alone.
        reporter.toNetwork(QStringLiteral("xapzelQuilljot"), QStringLiteral("five"),
                           Problem{ErrorKind::None, QStringLiteral("D"), 7});
        QCOMPARE(itemValue(node.sent[4], QStringLiteral("Data")), QStringLiteral("five"));
    }

    // People read the sentence alone, on the journal and in the status views; the xAP report
    // and the text log keep the routine's name and step that other programs read.
    void peopleReadSentencesProgramsTheFormat() {
        ReportPath path;
        auto& [log, reporter, queue, node] = path;
        queue.setReady(true);
        QStringList journal;
        QStringList watched;
        reporter.setJournal([&](const QString& line) { journal.append(line); });
        reporter.setWatcher([&](const QString& line) { watched.append(line); });

        reporter.toNetwork(
            QStringLiteral("xapzelQuilljot"), QStringLiteral("InitXap "),
            Problem{ErrorKind::Settings, QStringLiteral("keepDays must be a number\nof days"), 0});
        reporter.toNetwork(QStringLiteral("IniTool"),
                           QStringLiteral(" Equal sign not found on line x"));
        reporter.toTextLog(QStringLiteral("xapzelQuilljot"), QStringLiteral("SendHeartbeat"),
                           Problem{ErrorKind::Socket, QStringLiteral("refused"), 2});
        const QStringList sentences{QStringLiteral("KeepDays must be a number of days"),
                                    QStringLiteral("IniTool: Equal sign not found on line x"),
                                    QStringLiteral("Refused")};
        QCOMPARE(journal, sentences.first(2));
        QCOMPARE(watched, sentences);
        QCOMPARE(itemValue(node.sent[0], QStringLiteral("Data")),
                 QStringLiteral("InitXap  Line 0 keepDays must be a number\nof days"));
    }

    void failedSendKeepsTheQueueAndWritesTheTextLog() {
        QTemporaryDir dir;
        const AppFolders folders(dir.path());
        QDir().mkpath(dir.path() + QStringLiteral("/Data/xapzelQuilljot"));
        TextLog log(folders.textLogPath());
        ApplicationReporter reporter(log, fixedNow);
        OutgoingQueue queue(reporter);
        RecordingSender node;
        queue.setSender(&node);
        auto message = [](const QString& value) {
            return OutgoingMessage{QString(),
                                   QStringLiteral("c"),
                                   QStringLiteral("s"),
                                   {{QStringLiteral("v"), value}}};
        };
        queue.send(message(QStringLiteral("a")));
        queue.send(message(QStringLiteral("b")));
        queue.setReady(true);
        node.failNext = 1;
        queue.send(message(QStringLiteral("new")));
        QCOMPARE(queue.waitingMessages().size(), 2);
        QVERIFY(node.sent.isEmpty());
        node.failNext = 2;
        queue.send(message(QStringLiteral("x")));
        queue.send(message(QStringLiteral("long") + QString(3000, u'z')));
        QCOMPARE(readFile(folders.textLogPath()),
                 QByteArray("xapzelQuilljot SendXap  v=new 1 Send refused\r\n"
                            "xapzelQuilljot SendXap  v=x 1 Send refused\r\n"
                            "xapzelQuilljot SendXap  v=long") +
                     QByteArray(1994, 'z') + "... (1006 characters cut) 1 Send refused\r\n");

        queue.send(message(QStringLiteral("later")));
        QCOMPARE(node.sent.size(), 3);
        QCOMPARE(node.sent[0].items[0].value, QStringLiteral("a"));
        QCOMPARE(node.sent[2].items[0].value, QStringLiteral("later"));

        node.failNext = 1;  // nothing waits: the new message's own send fails
        queue.send(message(QStringLiteral("lost")));
        QVERIFY(readFile(folders.textLogPath())
                    .endsWith("xapzelQuilljot SendXap  v=lost 2 Send refused\r\n"));

        // Without a node nothing can be sent, and the log says why.
        OutgoingQueue alone(reporter);
        alone.setReady(true);
        alone.send(message(QStringLiteral("q")));
        QVERIFY(readFile(folders.textLogPath())
                    .endsWith("xapzelQuilljot SendXap  v=q 2 No xAP node to send through\r\n"));
    }

    // --app-dir (a trailing slash aside) comes first, then QUILLJOT_HOME. (The shared network
    // settings read from the folder found are seen at work wherever a logger sends to
    // 127.0.0.1 by them: tst_ui, tst_web, tst_logger, and every program test.)
    void locatesTheApplicationFolder() {
        StartupPlace place;
        place.appDir = QStringLiteral("/srv/app/");
        place.homeEnv = QStringLiteral("/srv/home");
        place.programFile = QStringLiteral("/usr/bin/quilljot");
        place.userHome = QStringLiteral("/home/u");
        QCOMPARE(AppFolders::locate(place).appPath(), QStringLiteral("/srv/app"));
        place.appDir.clear();
        QCOMPARE(AppFolders::locate(place).appPath(), QStringLiteral("/srv/home"));
    }

    void folderOfAProgramNamedNeither_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("dataHome");
        QTest::addColumn<QString>("folder");
        const QString user = QStringLiteral("/home/u/.local/share/quilljot");
        QTest::newRow("relative XDG_DATA_HOME ignored")
            << QStringLiteral("/usr/bin/quilljot") << QStringLiteral("rel") << user;
        QTest::newRow("build folder under /opt")
            << QStringLiteral("/opt/src/q/build/bin/quilljot") << QString()
            << QStringLiteral("/opt/src/q/build/bin");
        QTest::newRow("build folder under /usr") << QStringLiteral("/usr/src/q/bin/quilljot")
                                                 << QString() << QStringLiteral("/usr/src/q/bin");
        QTest::newRow("a folder named vb") << QStringLiteral("/home/u/vb/bin/quilljot") << QString()
                                           << QStringLiteral("/home/u/vb/bin");
    }
    // Without --app-dir or QUILLJOT_HOME: an installed program keeps the user's data in the
    // user's data folder; a program run where it was built keeps it beside itself. (An installed
    // program and one in its build folder, XDG_DATA_HOME set, are run by tst_service's
    // installedProgramUsesTheUsersDataFolder.)
    void folderOfAProgramNamedNeither() {
        QFETCH(QString, program);
        QFETCH(QString, dataHome);
        QFETCH(QString, folder);
        StartupPlace place;
        place.programFile = program;
        place.dataHomeEnv = dataHome;
        place.userHome = QStringLiteral("/home/u");
        QCOMPARE(AppFolders::locate(place).appPath(), folder);
    }

    void folderMakerReportsAFolderItCannotMakeOnce() {
        QTemporaryDir dir;
        MemoryReporter r;
        FolderMaker maker(r);
        QVERIFY(
            writeFile(dir.path() + QStringLiteral("/blocker"), "a file where a folder should be"));
        const QString file = dir.path() + QStringLiteral("/blocker/deeper/x");
        QVERIFY(!maker.makeFoldersFor(file));
        QVERIFY(!maker.makeFoldersFor(file));  // asked again: not said again
        QCOMPARE(r.entries.size(), 1);
        QVERIFY(!r.entries[0].textLog);
        QCOMPARE(r.entries[0].first, ProgramNames::kProgram);
        QVERIFY(r.entries[0].text.startsWith(QStringLiteral(" CreateFolders ") + dir.path() +
                                             QStringLiteral("/blocker Line 4 ")));
        QVERIFY(r.entries[0].text.endsWith(QStringLiteral("(a file of that name is in the way)")));
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/blocker/deeper")));

        QVERIFY(QFile::remove(dir.path() + QStringLiteral("/blocker")));
        QVERIFY(maker.makeFoldersFor(file));
        QVERIFY(QFileInfo(dir.path() + QStringLiteral("/blocker/deeper")).isDir());
        QVERIFY(!QFileInfo::exists(file));
    }

    void readsControllerDateForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("dayFirst");
        QTest::addColumn<QString>("iso");
        QTest::newRow("iso") << QStringLiteral("2026-12-04 23:13:09") << false
                             << QStringLiteral("2026-12-04 23:13:09");
        QTest::newRow("iso no seconds")
            << QStringLiteral("2026-12-04 23:13") << true << QStringLiteral("2026-12-04 23:13:00");
        QTest::newRow("iso date") << QStringLiteral("2026-12-04") << true
                                  << QStringLiteral("2026-12-04 00:00:00");
        QTest::newRow("iso T") << QStringLiteral(" 2026-12-04T23:13:09.5 ") << false
                               << QStringLiteral("2026-12-04 23:13:09");
        QTest::newRow("us pm") << QStringLiteral("12/4/2026 11:13:09 PM") << true
                               << QStringLiteral("2026-12-04 23:13:09");
        QTest::newRow("us am 12") << QStringLiteral("12/4/2026 12:05 am") << false
                                  << QStringLiteral("2026-12-04 00:05:00");
        QTest::newRow("day first") << QStringLiteral("04/12/2026 23:13:09") << true
                                   << QStringLiteral("2026-12-04 23:13:09");
        QTest::newRow("month first") << QStringLiteral("04/12/2026 23:13:09") << false
                                     << QStringLiteral("2026-04-12 23:13:09");
        QTest::newRow("day above 12")
            << QStringLiteral("24/12/2026 08:00") << false << QStringLiteral("2026-12-24 08:00:00");
        QTest::newRow("dots") << QStringLiteral("4.12.2026") << true
                              << QStringLiteral("2026-12-04 00:00:00");
        QTest::newRow("mixed separators") << QStringLiteral("4.12/2026") << true << QString();
        QTest::newRow("not a date") << QStringLiteral("soon") << true << QString();
        QTest::newRow("bad day") << QStringLiteral("2026-02-30 10:00") << true << QString();
        QTest::newRow("bad hour") << QStringLiteral("2026-02-03 25:00") << true << QString();
        QTest::newRow("pm hour 13") << QStringLiteral("12/4/2026 13:00 PM") << true << QString();
    }
    void readsControllerDateForms() {
        QFETCH(QString, text);
        QFETCH(bool, dayFirst);
        QFETCH(QString, iso);
        const auto order = dayFirst ? DateText::Order::DayFirst : DateText::Order::MonthFirst;
        const auto d = DateText::read(text, order);
        QCOMPARE(d ? DateText::isoText(*d) : QString(), iso);
        QCOMPARE(DateText::normalize(text, order).value_or(QString()), iso);
    }
};

QTEST_GUILESS_MAIN(SupportTest)
#include "tst_support.moc"
