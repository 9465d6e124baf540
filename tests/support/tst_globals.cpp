#include <QtTest>

#include "RecordingSender.h"
#include "TestFiles.h"
#include "support/DateText.h"
#include "support/Hs.h"
#include "support/ItemList.h"
#include "support/PathRules.h"
#include "support/XapGlobal.h"

class GlobalsTest : public QObject {
    Q_OBJECT

private slots:
    void textLogLineFormat() {
        QTemporaryDir dir;
        XapGlobal g;
        g.useAppPath(dir.path());
        QDir().mkpath(dir.path() + u"/Data/xapzelQuilljot"_qs);
        g.WriteErrorLog(u"xapzelQuilljot"_qs, u"Main Load"_qs);
        g.setPendingError(5, u"D"_qs, 30);
        g.WriteErrorLog(u"Message AddHeader"_qs, QString());
        QVERIFY(!g.pendingError().isSet());
        QCOMPARE(readFile(g.textLogPath()),
                 QByteArray("xapzelQuilljot Main Load 0 \r\nMessage AddHeader  30 D\r\n"));
    }

    void textLogNeverCreatesItsFolderAndSaysSoOnce() {
        QTemporaryDir dir;
        XapGlobal g;
        QStringList notices;
        g.notice = [&](const QString& text) { notices.append(text); };
        g.useAppPath(dir.path());
        g.setPendingError(1, u"x"_qs, 2);
        g.WriteErrorLog(u"a"_qs, u"b"_qs);
        g.WriteErrorLog(u"a"_qs, u"c"_qs);
        QVERIFY(!QFileInfo::exists(dir.path() + u"/Data"_qs));
        QVERIFY(!g.pendingError().isSet());
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices[0].startsWith(u"cannot write the text log "_qs + g.textLogPath()));

        QDir().mkpath(dir.path() + u"/Data/xapzelQuilljot"_qs);
        g.WriteErrorLog(u"a"_qs, u"d"_qs);  // gets through: a later failure is said again
        QVERIFY(QDir(dir.path() + u"/Data/xapzelQuilljot"_qs).removeRecursively());
        g.WriteErrorLog(u"a"_qs, u"e"_qs);
        QCOMPARE(notices.size(), 2);
    }

    void eventReportsQueueUntilReadyThenFlushInOrder() {
        XapGlobal g;
        RecordingSender node;
        g.setSender(&node);
        g.clock = [] { return QDateTime(QDate(2026, 3, 5), QTime(14, 3, 9)); };
        g.SendEventLog(u"xapzelQuilljot"_qs, u"one"_qs);
        g.setPendingError(3, u"D"_qs, 120);
        g.SendEventLog(u"xapzelQuilljot"_qs, u"Readmessage"_qs);
        g.SendXapQueued(u"t"_qs, u"c"_qs, u"s"_qs, u"x\1y"_qs);
        QVERIFY(node.sent.isEmpty());
        QCOMPARE(g.colPendingXap.size(), 3);

        g.bXapReady = true;
        g.SendEventLog(u"xapzelQuilljot"_qs, u"four"_qs);
        QCOMPARE(node.sent.size(), 4);
        const QString sep = QString(ItemList::kItemSeparator);
        const QString val = QString(ItemList::kValueSeparator);
        QCOMPARE(node.sent[0], QStringList({QString(), u"Homeseer.Event"_qs, u"Event.Log"_qs,
                                            u"Time"_qs + val + u"2026-03-05 14:03:09"_qs + sep +
                                                u"Type"_qs + val + u"xapzelQuilljot"_qs + sep +
                                                u"Data"_qs + val + u"one"_qs}));
        QVERIFY(node.sent[1][3].endsWith(u"Data"_qs + val + u"Readmessage Line 120 D"_qs));
        QCOMPARE(node.sent[2], QStringList({u"t"_qs, u"c"_qs, u"s"_qs, u"x\1y"_qs}));
        QVERIFY(node.sent[3][3].endsWith(u"four"_qs));
        g.SendEventLog(u"xapzelQuilljot"_qs, u"five"_qs);
        QCOMPARE(node.sent.size(), 5);
        QVERIFY(g.colPendingXap.isEmpty());
    }

    void failedFlushKeepsTheQueueAndWritesTheTextLog() {
        QTemporaryDir dir;
        XapGlobal g;
        g.useAppPath(dir.path());
        QDir().mkpath(dir.path() + u"/Data/xapzelQuilljot"_qs);
        RecordingSender node;
        g.setSender(&node);
        g.SendXapQueued(u""_qs, u"c"_qs, u"s"_qs, u"a"_qs);
        g.SendXapQueued(u""_qs, u"c"_qs, u"s"_qs, u"b"_qs);
        g.bXapReady = true;
        node.failNext = 1;
        g.SendXapQueued(u""_qs, u"c"_qs, u"s"_qs, u"new"_qs);
        QCOMPARE(g.colPendingXap.size(), 2);
        QVERIFY(node.sent.isEmpty());
        QCOMPARE(readFile(g.textLogPath()),
                 QByteArray("xapzelQuilljot SendXap  new 1 5 Send refused\r\n"));
        g.SendXapQueued(u""_qs, u"c"_qs, u"s"_qs, u"later"_qs);
        QCOMPARE(node.sent.size(), 3);
        QCOMPARE(node.sent[0][3], u"a"_qs);
        QCOMPARE(node.sent[2][3], u"later"_qs);
    }

    void pathRules_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("drive") << u"C:\\Program Files\\xapzelQuilljot\\Config\\x"_qs
                               << QStringList{u"C:\\Program Files"_qs,
                                              u"C:\\Program Files\\xapzelQuilljot"_qs,
                                              u"C:\\Program Files\\xapzelQuilljot\\Config"_qs};
        QTest::newRow("drive root file") << u"C:\\x"_qs << QStringList{};
        QTest::newRow("relative") << u"relative\\path\\x"_qs << QStringList{};
        QTest::newRow("unc") << u"\\\\srv\\share\\a\\b\\f"_qs
                             << QStringList{u"\\\\srv\\share\\a"_qs, u"\\\\srv\\share\\a\\b"_qs};
        QTest::newRow("unc without share end") << u"\\\\srv\\share"_qs << QStringList{};
        QTest::newRow("posix") << u"/var/lib/q/Data/x"_qs
                               << QStringList{u"/var"_qs, u"/var/lib"_qs, u"/var/lib/q"_qs,
                                              u"/var/lib/q/Data"_qs};
        QTest::newRow("posix root file") << u"/x"_qs << QStringList{};
        QTest::newRow("posix relative") << u"a/b/x"_qs << QStringList{};
    }
    void pathRules() {
        QFETCH(QString, path);
        QFETCH(QStringList, folders);
        QCOMPARE(PathRules::foldersFor(path), folders);
    }

    void developmentAndUncRules() {
        QVERIFY(PathRules::isDevelopmentLocation(u"D:\\Work\\vb\\Logger"_qs));
        QVERIFY(PathRules::isDevelopmentLocation(u"D:\\Work\\VB\\Logger"_qs));
        QVERIFY(!PathRules::isDevelopmentLocation(u"D:\\Work\\vbx\\Logger"_qs));
        QVERIFY(PathRules::isDevelopmentLocation(u"/home/me/Vb/logger"_qs));
        QCOMPARE(PathRules::developmentReplacement(u"D:\\Work\\vb\\Logger"_qs, u"zel6"_qs),
                 u"d:\\Program Files\\xapzelQuilljot"_qs);
        QCOMPARE(PathRules::developmentReplacement(u"D:\\Work\\vb\\Logger"_qs, u"HOST1"_qs),
                 u"c:\\Program Files\\xapzelQuilljot"_qs);
        QCOMPARE(PathRules::uncToDriveForm(u"\\\\server\\c\\Apps\\prog.exe"_qs),
                 u"c:\\Apps\\prog.exe"_qs);
        QCOMPARE(PathRules::uncToDriveForm(u"\\\\server\\c"_qs), u"\\\\server\\c"_qs);
        QCOMPARE(PathRules::uncToDriveForm(u"/usr/bin/quilljot"_qs), u"/usr/bin/quilljot"_qs);
        QCOMPARE(PathRules::join(u"c:\\a"_qs, u"b"_qs), u"c:\\a\\b"_qs);
        QCOMPARE(PathRules::join(u"/a/"_qs, u"b"_qs), u"/a/b"_qs);
    }

    void initGlobalsResolvesFoldersAndSharedSettings() {
        QTemporaryDir dir;
        XapGlobal g;
        StartupPlace place;
        place.appDir = dir.path() + u"/app"_qs;
        place.programFile = u"/opt/vb/bin/quilljot"_qs;
        place.hostName = [] { return u"HOST1"_qs; };
        g.InitGlobals(place);
        QCOMPARE(g.AppPath, dir.path() + u"/app"_qs);
        QCOMPARE(g.ComputerName, u"HOST1"_qs);
        QCOMPARE(g.ExePath, u"/opt/vb/bin/quilljot"_qs);
        QVERIFY(QFileInfo(dir.path() + u"/app/Config"_qs).isDir());
        QVERIFY(QFileInfo(dir.path() + u"/app/Data"_qs).isDir());
        QCOMPARE(g.sInterfaceAddress, u"Default"_qs);
        QCOMPARE(g.sBroadcastAddress, u"Default"_qs);

        QVERIFY(writeFile(dir.path() + u"/home/Config/zelXap.ini"_qs,
                          "[Interface]\r\nBroadcastAddress=127.0.0.1\r\n"));
        XapGlobal g2;
        place.appDir.clear();
        place.homeEnv = dir.path() + u"/home"_qs;
        g2.InitGlobals(place);
        QCOMPARE(g2.AppPath, dir.path() + u"/home"_qs);
        QCOMPARE(g2.sBroadcastAddress, u"127.0.0.1"_qs);
        QCOMPARE(g2.sInterfaceAddress, u"Default"_qs);
    }

    void createFoldersReportsTheFirstFolderItCannotMake() {
        QTemporaryDir dir;
        XapGlobal g;
        RecordingSender node;
        g.setSender(&node);
        g.bXapReady = true;
        QVERIFY(writeFile(dir.path() + u"/blocker"_qs, "a file where a folder should be"));
        g.CreateFolders(dir.path() + u"/blocker/deeper/x"_qs);
        g.CreateFolders(dir.path() + u"/blocker/deeper/x"_qs);  // asked again: not said again
        QCOMPARE(node.sent.size(), 1);
        QVERIFY(node.sent[0][3].contains(u" CreateFolders "_qs + dir.path() + u"/blocker Line"_qs));
        QVERIFY(!QFileInfo::exists(dir.path() + u"/blocker/deeper"_qs));
    }

    void readsControllerDateForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("dayFirst");
        QTest::addColumn<QString>("iso");
        QTest::newRow("iso") << u"2026-12-04 23:13:09"_qs << false << u"2026-12-04 23:13:09"_qs;
        QTest::newRow("iso no seconds")
            << u"2026-12-04 23:13"_qs << true << u"2026-12-04 23:13:00"_qs;
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
        QTest::newRow("not a date") << u"soon"_qs << true << QString();
        QTest::newRow("bad day") << u"2026-02-30 10:00"_qs << true << QString();
        QTest::newRow("bad hour") << u"2026-02-03 25:00"_qs << true << QString();
    }
    void readsControllerDateForms() {
        QFETCH(QString, text);
        QFETCH(bool, dayFirst);
        QFETCH(QString, iso);
        const auto d = DateText::read(
            text, dayFirst ? DateText::Order::DayFirst : DateText::Order::MonthFirst);
        QCOMPARE(d ? DateText::isoText(*d) : QString(), iso);
    }
};

QTEST_GUILESS_MAIN(GlobalsTest)
#include "tst_globals.moc"
