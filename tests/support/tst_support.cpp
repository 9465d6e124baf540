#include <QtTest>

#include "RecordingSender.h"
#include "TestFiles.h"
#include "support/AppFolders.h"
#include "support/ApplicationReporter.h"
#include "support/DateText.h"
#include "support/OutgoingQueue.h"
#include "support/PathRules.h"
#include "support/ProgramNames.h"
#include "support/SettingsStore.h"
#include "support/TextLog.h"

namespace {

QDateTime fixedNow() {
    return QDateTime(QDate(2026, 3, 5), QTime(14, 3, 9));
}

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
        const QString folder = dir.path() + u"/Data/xapzelQuilljot"_qs;
        QStringList notices;
        TextLog log(AppFolders(dir.path()).textLogPath(),
                    [&](const QString& text) { notices.append(text); });
        log.append(u"b"_qs);
        log.append(u"c"_qs);
        QVERIFY(!QFileInfo::exists(dir.path() + u"/Data"_qs));
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices[0].startsWith(u"cannot write the text log "_qs + log.path()));

        QDir().mkpath(folder);
        log.append(u"d"_qs);  // gets through: a later failure is said again
        QVERIFY(QDir(folder).removeRecursively());
        log.append(u"e"_qs);
        QCOMPARE(notices.size(), 2);

        // A folder in the file's place is no text log, and is left alone.
        QDir().mkpath(log.path());
        log.append(u"f"_qs);
        QCOMPARE(notices.size(), 3);
        QVERIFY(notices[2].contains(u"not a regular file"_qs));
    }

    void eventReportsWaitUntilReadyThenGoInOrder() {
        TextLog log{QString()};
        ApplicationReporter reporter(log, fixedNow);
        OutgoingQueue queue(reporter);
        reporter.setOutgoing(&queue);
        RecordingSender node;
        queue.setSender(&node);

        reporter.toNetwork(u"xapzelQuilljot"_qs, u"one"_qs);
        reporter.toNetwork(u"xapzelQuilljot"_qs, u"Readmessage"_qs, Problem{3, u"D"_qs, 120});
        queue.send(OutgoingMessage{u"t"_qs, u"c"_qs, u"s"_qs, {{u"x"_qs, u"y"_qs}}});
        QVERIFY(node.sent.isEmpty());
        QCOMPARE(queue.waitingMessages().size(), 3);

        queue.setReady(true);
        reporter.toNetwork(u"xapzelQuilljot"_qs, u"four"_qs);
        QCOMPARE(node.sent.size(), 4);
        QCOMPARE(queue.waitingMessages().size(), 0);
        const OutgoingMessage& first = node.sent[0];
        QCOMPARE(first.target, QString());
        QCOMPARE(first.className, u"Homeseer.Event"_qs);
        QCOMPARE(first.block, u"Event.Log"_qs);
        QCOMPARE(first.items, QList<XapItem>({{u"Time"_qs, u"2026-03-05 14:03:09"_qs},
                                              {u"Type"_qs, u"xapzelQuilljot"_qs},
                                              {u"Data"_qs, u"one"_qs}}));
        QCOMPARE(itemValue(node.sent[1], u"Data"_qs), u"Readmessage Line 120 D"_qs);
        QCOMPARE(node.sent[2].target, u"t"_qs);
        QCOMPARE(itemValue(node.sent[3], u"Data"_qs), u"four"_qs);

        // A problem numbered 0 is no failure: the data is the text alone.
        reporter.toNetwork(u"xapzelQuilljot"_qs, u"five"_qs, Problem{0, u"D"_qs, 7});
        QCOMPARE(itemValue(node.sent[4], u"Data"_qs), u"five"_qs);
    }

    // People read the sentence alone, on the journal and in the status views; the xAP report
    // and the text log keep the routine's name and step that other programs read.
    void peopleReadSentencesProgramsTheFormat() {
        TextLog log{QString()};
        ApplicationReporter reporter(log, fixedNow);
        OutgoingQueue queue(reporter);
        reporter.setOutgoing(&queue);
        RecordingSender node;
        queue.setSender(&node);
        queue.setReady(true);
        QStringList journal;
        QStringList watched;
        reporter.setJournal([&](const QString& line) { journal.append(line); });
        reporter.setWatcher([&](const QString& line) { watched.append(line); });

        reporter.toNetwork(u"xapzelQuilljot"_qs, u"InitXap "_qs,
                           Problem{6, u"keepDays must be a number\nof days"_qs, 0});
        reporter.toNetwork(u"IniTool"_qs, u" Equal sign not found on line x"_qs);
        reporter.toTextLog(u"xapzelQuilljot"_qs, u"SendHeartbeat"_qs, Problem{4, u"refused"_qs, 2});
        const QStringList sentences{u"KeepDays must be a number of days"_qs,
                                    u"IniTool: Equal sign not found on line x"_qs, u"Refused"_qs};
        QCOMPARE(journal, sentences.first(2));
        QCOMPARE(watched, sentences);
        QCOMPARE(itemValue(node.sent[0], u"Data"_qs),
                 u"InitXap  Line 0 keepDays must be a number\nof days"_qs);
        QCOMPARE(Reporter::textLogLine(u"xapzelQuilljot"_qs, u"SendHeartbeat"_qs,
                                       Problem{4, u"refused"_qs, 2}),
                 u"xapzelQuilljot SendHeartbeat 2 refused"_qs);
    }

    void failedSendKeepsTheQueueAndWritesTheTextLog() {
        QTemporaryDir dir;
        const AppFolders folders(dir.path());
        QDir().mkpath(dir.path() + u"/Data/xapzelQuilljot"_qs);
        TextLog log(folders.textLogPath());
        ApplicationReporter reporter(log, fixedNow);
        OutgoingQueue queue(reporter);
        RecordingSender node;
        queue.setSender(&node);
        auto message = [](const QString& value) {
            return OutgoingMessage{QString(), u"c"_qs, u"s"_qs, {{u"v"_qs, value}}};
        };
        queue.send(message(u"a"_qs));
        queue.send(message(u"b"_qs));
        queue.setReady(true);
        node.failNext = 1;
        queue.send(message(u"new"_qs));
        QCOMPARE(queue.waitingMessages().size(), 2);
        QVERIFY(node.sent.isEmpty());
        node.failNext = 2;
        queue.send(message(u"x"_qs));
        queue.send(message(u"long"_qs + QString(3000, u'z')));
        QCOMPARE(readFile(folders.textLogPath()),
                 QByteArray("xapzelQuilljot SendXap  v=new 1 Send refused\r\n"
                            "xapzelQuilljot SendXap  v=x 1 Send refused\r\n"
                            "xapzelQuilljot SendXap  v=long") +
                     QByteArray(1994, 'z') + "... (1006 characters cut) 1 Send refused\r\n");

        queue.send(message(u"later"_qs));
        QCOMPARE(node.sent.size(), 3);
        QCOMPARE(node.sent[0].items[0].value, u"a"_qs);
        QCOMPARE(node.sent[2].items[0].value, u"later"_qs);

        node.failNext = 1;  // nothing waits: the new message's own send fails
        queue.send(message(u"lost"_qs));
        QVERIFY(readFile(folders.textLogPath())
                    .endsWith("xapzelQuilljot SendXap  v=lost 2 Send refused\r\n"));

        // Without a node nothing can be sent, and the log says why.
        OutgoingQueue alone(reporter);
        alone.setReady(true);
        alone.send(message(u"q"_qs));
        QVERIFY(readFile(folders.textLogPath())
                    .endsWith("xapzelQuilljot SendXap  v=q 2 No xAP node to send through\r\n"));
    }

    void pathRules_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("posix") << u"/var/lib/q/Data/x"_qs
                               << QStringList{u"/var"_qs, u"/var/lib"_qs, u"/var/lib/q"_qs,
                                              u"/var/lib/q/Data"_qs};
        QTest::newRow("root file") << u"/x"_qs << QStringList{};
        QTest::newRow("relative") << u"a/b/x"_qs << QStringList{};
    }
    void pathRules() {
        QFETCH(QString, path);
        QFETCH(QStringList, folders);
        QCOMPARE(PathRules::foldersFor(path), folders);
    }

    void locatesTheApplicationFolderAndSharedSettings() {
        QTemporaryDir dir;
        StartupPlace place;
        place.appDir = dir.path() + u"/app/"_qs;
        place.homeEnv = dir.path() + u"/home"_qs;
        place.programFile = u"/usr/bin/quilljot"_qs;
        place.userHome = u"/home/u"_qs;
        AppFolders folders = AppFolders::locate(place);
        QCOMPARE(folders.appPath(), dir.path() + u"/app"_qs);
        MemoryReporter r;
        SettingsStore::LoadedNetwork net = SettingsStore(folders, r).loadNetwork();
        QCOMPARE(net.settings.interfaceAddress, u"Default"_qs);
        QCOMPARE(net.settings.broadcastAddress, u"Default"_qs);
        QVERIFY(net.problems.isEmpty());

        QVERIFY(writeFile(dir.path() + u"/home/Config/zelXap.ini"_qs,
                          "[Interface]\r\nBroadcastAddress=127.0.0.1\r\n"));
        place.appDir.clear();
        folders = AppFolders::locate(place);
        QCOMPARE(folders.appPath(), dir.path() + u"/home"_qs);
        net = SettingsStore(folders, r).loadNetwork();
        QCOMPARE(net.settings.broadcastAddress, u"127.0.0.1"_qs);
        QCOMPARE(net.settings.interfaceAddress, u"Default"_qs);
        QVERIFY(r.entries.isEmpty());
    }

    void folderOfAProgramNamedNeither_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("dataHome");
        QTest::addColumn<QString>("folder");
        const QString user = u"/home/u/.local/share/quilljot"_qs;
        QTest::newRow("/usr/bin") << u"/usr/bin/quilljot"_qs << QString() << user;
        QTest::newRow("relative XDG_DATA_HOME ignored")
            << u"/usr/bin/quilljot"_qs << u"rel"_qs << user;
        QTest::newRow("build folder")
            << u"/work/q/build/bin/quilljot"_qs << u"/data/x"_qs << u"/work/q/build/bin"_qs;
        QTest::newRow("build folder under /opt")
            << u"/opt/src/q/build/bin/quilljot"_qs << QString() << u"/opt/src/q/build/bin"_qs;
        QTest::newRow("build folder under /usr")
            << u"/usr/src/q/bin/quilljot"_qs << QString() << u"/usr/src/q/bin"_qs;
        QTest::newRow("a folder named vb")
            << u"/home/u/vb/bin/quilljot"_qs << QString() << u"/home/u/vb/bin"_qs;
    }
    // Without --app-dir or QUILLJOT_HOME: an installed program keeps the user's data in the
    // user's data folder; a program run where it was built keeps it beside itself.
    void folderOfAProgramNamedNeither() {
        QFETCH(QString, program);
        QFETCH(QString, dataHome);
        QFETCH(QString, folder);
        StartupPlace place;
        place.programFile = program;
        place.dataHomeEnv = dataHome;
        place.userHome = u"/home/u"_qs;
        QCOMPARE(AppFolders::locate(place).appPath(), folder);
    }

    void folderMakerReportsAFolderItCannotMakeOnce() {
        QTemporaryDir dir;
        MemoryReporter r;
        FolderMaker maker(r);
        QVERIFY(writeFile(dir.path() + u"/blocker"_qs, "a file where a folder should be"));
        const QString file = dir.path() + u"/blocker/deeper/x"_qs;
        QVERIFY(!maker.makeFoldersFor(file));
        QVERIFY(!maker.makeFoldersFor(file));  // asked again: not said again
        QCOMPARE(r.entries.size(), 1);
        QVERIFY(!r.entries[0].textLog);
        QCOMPARE(r.entries[0].first, ProgramNames::kProgram);
        QVERIFY(r.entries[0].text.startsWith(u" CreateFolders "_qs + dir.path() +
                                             u"/blocker Line 4 "_qs));
        QVERIFY(r.entries[0].text.endsWith(u"(a file of that name is in the way)"_qs));
        QVERIFY(!QFileInfo::exists(dir.path() + u"/blocker/deeper"_qs));

        QVERIFY(QFile::remove(dir.path() + u"/blocker"_qs));
        QVERIFY(maker.makeFoldersFor(file));
        QVERIFY(QFileInfo(dir.path() + u"/blocker/deeper"_qs).isDir());
        QVERIFY(!QFileInfo::exists(file));
    }

    void readsControllerDateForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("dayFirst");
        QTest::addColumn<QString>("iso");
        QTest::newRow("iso") << u"2026-12-04 23:13:09"_qs << false << u"2026-12-04 23:13:09"_qs;
        QTest::newRow("iso no seconds")
            << u"2026-12-04 23:13"_qs << true << u"2026-12-04 23:13:00"_qs;
        QTest::newRow("iso date") << u"2026-12-04"_qs << true << u"2026-12-04 00:00:00"_qs;
        QTest::newRow("iso T") << u" 2026-12-04T23:13:09.5 "_qs << false
                               << u"2026-12-04 23:13:09"_qs;
        QTest::newRow("us pm") << u"12/4/2026 11:13:09 PM"_qs << true << u"2026-12-04 23:13:09"_qs;
        QTest::newRow("us am 12") << u"12/4/2026 12:05 am"_qs << false << u"2026-12-04 00:05:00"_qs;
        QTest::newRow("day first")
            << u"04/12/2026 23:13:09"_qs << true << u"2026-12-04 23:13:09"_qs;
        QTest::newRow("month first")
            << u"04/12/2026 23:13:09"_qs << false << u"2026-04-12 23:13:09"_qs;
        QTest::newRow("day above 12")
            << u"24/12/2026 08:00"_qs << false << u"2026-12-24 08:00:00"_qs;
        QTest::newRow("dots") << u"4.12.2026"_qs << true << u"2026-12-04 00:00:00"_qs;
        QTest::newRow("mixed separators") << u"4.12/2026"_qs << true << QString();
        QTest::newRow("not a date") << u"soon"_qs << true << QString();
        QTest::newRow("bad day") << u"2026-02-30 10:00"_qs << true << QString();
        QTest::newRow("bad hour") << u"2026-02-03 25:00"_qs << true << QString();
        QTest::newRow("pm hour 13") << u"12/4/2026 13:00 PM"_qs << true << QString();
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
