#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSystemTrayIcon>
#include <QUdpSocket>
#include <QtTest>

#include "logger/EchoFormat.h"
#include "logger/xapQuilljot.h"
#include "support/Hs.h"
#include "ui/DesktopFrontend.h"
#include "ui/EchoWindow.h"
#include "ui/SetupDialog.h"
#include "ui/TrayIcon.h"

namespace {
const QDateTime kNow(QDate(2026, 12, 5), QTime(8, 30, 0));
}

class UiTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QUdpSocket> m_hub;
    std::unique_ptr<DesktopFrontend> m_desktop;
    std::unique_ptr<xapQuilljot> m_app;

    EchoWindow* echo() { return m_desktop->echoWindow(); }
    template <typename T>
    T* child(QWidget* w, const char* name) {
        return w->findChild<T*>(QString::fromLatin1(name));
    }
    QString ini(const QString& key) {
        return m_app->global().hs().GetINISetting(u"Quilljot"_qs, key, u"-"_qs,
                                                  u"zelXapQuilljot.ini"_qs);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(m_dir->path() + u"/Config"_qs);
        QFile shared(m_dir->path() + u"/Config/zelXap.ini"_qs);
        QVERIFY(shared.open(QIODevice::WriteOnly));
        shared.write("[Interface]\r\nBroadcastAddress=127.0.0.1\r\n");
        shared.close();
        m_hub = std::make_unique<QUdpSocket>();
        QVERIFY(m_hub->bind(QHostAddress(QHostAddress::LocalHost), 0));

        m_desktop = std::make_unique<DesktopFrontend>();
        xapQuilljot::Options options;
        options.place.appDir = m_dir->path();
        options.place.programFile = u"/opt/quilljot/bin/quilljot"_qs;
        options.place.hostName = [] { return u"HOST1"_qs; };
        options.network =
            std::make_unique<FixedHostNetwork>(u"HOST1"_qs, QStringList{u"127.0.0.1"_qs});
        options.xapPort = m_hub->localPort();
        m_app = std::make_unique<xapQuilljot>(*m_desktop, std::move(options));
        m_app->global().clock = [] { return kNow; };
        m_desktop->attach(*m_app);
        QVERIFY(m_app->Form_Load());
        QVERIFY(echo() != nullptr);
        QVERIFY(!echo()->isVisible());
    }
    void cleanup() {
        m_app->Form_unload();
        m_app.reset();
        m_desktop.reset();
    }

    void echoLineFormat() {
        const QString line =
            EchoFormat::line(u"zel.hs.pc.abcdefgh"_qs.left(15), u"2026-03-05 14:03:09"_qs,
                             u"Log"_qs, u"a\r\nb\rc\nd"_qs, kNow);
        QCOMPARE(line, u"zel.hs.pc.abcde     \t2026-03-05 14:03:09 |  Log  |  a|b|c|d"_qs);
        QCOMPARE(EchoFormat::line(u"s"_qs, u"soon"_qs, {}, {}, kNow).mid(21, 19),
                 u"2026-12-05 08:30:00"_qs);
        QString text;
        for (int i = 0; i < 300; ++i) {
            text = EchoFormat::append(text, QString(60, u'x'));
        }
        QCOMPARE(text.size(), EchoFormat::kMaxEchoText);
        QVERIFY(EchoFormat::append(QString(), u"a"_qs) == u"\r\na"_qs);
    }

    void liveFiltersAndFreeze() {
        child<QLineEdit>(echo(), "aCategoryFilter")->setText(u"LOG"_qs);
        child<QLineEdit>(echo(), "aSourceFilter")->setText(u"nomatch"_qs);
        echo()->Echo(u"a"_qs, u"2026-12-04 10:00:00"_qs, u"EventLog"_qs, u"one"_qs);
        echo()->Echo(u"a"_qs, u"2026-12-04 10:00:01"_qs, u"Status"_qs, u"two"_qs);
        child<QLineEdit>(echo(), "aDataFilter")->setText(u"THREE"_qs);
        echo()->Echo(u"a"_qs, u"2026-12-04 10:00:02"_qs, u"log"_qs, u"four"_qs);
        echo()->Echo(u"a"_qs, u"2026-12-04 10:00:03"_qs, u"log"_qs, u"three"_qs);
        child<QCheckBox>(echo(), "Freeze")->setChecked(true);
        echo()->Echo(u"a"_qs, u"2026-12-04 10:00:04"_qs, u"log"_qs, u"three again"_qs);
        const QStringList lines = echo()->echoText().split(u"\r\n"_qs);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].endsWith(u"EventLog  |  one"_qs));
        QVERIFY(lines[2].endsWith(u"log  |  three"_qs));
        QTRY_COMPARE(child<QPlainTextEdit>(echo(), "CommData")->toPlainText(),
                     QString(echo()->echoText()).replace(u"\r\n"_qs, u"\n"_qs));
    }

    void loggedEventsReachTheWindow() {
        m_app->logger().Readmessage(
            u"xap-header\n{\nclass=Homeseer.Event\nsource=zel.hs.pc\n}\nEvent.Log\n{\n"
            "Time=2026-12-04 23:13:09\nType=Log\nData=hello\n}\n"_qs);
        QVERIFY(echo()->echoText().endsWith(
            u"zel.hs.pc           \t2026-12-04 23:13:09 |  Log  |  hello"_qs));
        // Received text is shown as it came, never read as markup.
        const QString markup = u"<b>bold</b> <a href='file:///etc'>x</a> &amp;"_qs;
        m_app->logger().Readmessage(
            u"xap-header\n{\nclass=Homeseer.Event\nsource=zel.hs.pc\n}\nEvent.Log\n{\n"
            "Time=2026-12-04 23:13:10\nType=Log\nData="_qs +
            markup + u"\n}\n"_qs);
        QTRY_VERIFY(child<QPlainTextEdit>(echo(), "CommData")->toPlainText().endsWith(markup));
    }

    void historyShowsTheLastSevenDaysAndComesBack() {
        auto* db = m_app->logger().dbConnection();
        QVERIFY(db->isOpen());
        db->execute(
            u"INSERT INTO tblQuilljot (SampleDate,Source,Category,Data) SELECT "
            "#2026-11-20 10:00:00# AS Q1,\"old\" AS Q2,\"Log\" AS Q3,\"too old\" AS Q4"_qs);
        db->execute(
            u"INSERT INTO tblQuilljot (SampleDate,Source,Category,Data) SELECT "
            "#2026-12-04 10:00:00# AS Q1,\"new\" AS Q2,\"Log\" AS Q3,\"abc recent\" AS Q4"_qs);
        db->execute(
            u"INSERT INTO tblQuilljot (SampleDate,Source,Category,Data) SELECT "
            "#2026-12-03 10:00:00# AS Q1,\"new\" AS Q2,\"Log\" AS Q3,\"earlier\" AS Q4"_qs);
        echo()->Echo(u"live"_qs, u"2026-12-05 08:00:00"_qs, u"Log"_qs, u"live line"_qs);
        const QString live = echo()->echoText();

        auto* history = child<QPushButton>(echo(), "aHistory");
        history->click();
        QCOMPARE(history->text(), u"Current"_qs);
        QVERIFY(m_app->global().bEchoHistory);
        QStringList lines = echo()->echoText().split(u"\r\n"_qs);
        QCOMPARE(lines.size(), 4);  // the live line, then the rows in date order
        QVERIFY(lines[2].contains(u"2026-12-03 10:00:00 |  Log  |  earlier"_qs));
        QVERIFY(lines[3].contains(u"abc recent"_qs));
        QVERIFY(!echo()->echoText().contains(u"too old"_qs));

        echo()->Echo(u"live"_qs, u"2026-12-05 08:01:00"_qs, u"Log"_qs, u"lost"_qs);
        history->click();
        QCOMPARE(history->text(), u"History"_qs);
        QCOMPARE(echo()->echoText(), live);

        child<QLineEdit>(echo(), "aDataFilter")->setText(u"ABC"_qs);
        history->click();
        lines = echo()->echoText().split(u"\r\n"_qs);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[2].contains(u"abc recent"_qs));
    }

    void closingHidesAndSavesSizeAndFilters() {
        echo()->show();
        echo()->resize(640, 300);
        child<QLineEdit>(echo(), "aSourceFilter")->setText(u"zel"_qs);
        echo()->Echo(u"a"_qs, u"2026-12-04 10:00:00"_qs, u"Log"_qs, u"kept"_qs);
        QVERIFY(!echo()->close());
        QVERIFY(!echo()->isVisible());
        QVERIFY(echo()->echoText().contains(u"kept"_qs));
        QCOMPARE(ini(u"WindowWidth"_qs), QString::number(qRound(640 * echo()->twipsPerPixelX())));
        QCOMPARE(ini(u"WindowHeight"_qs), QString::number(qRound(300 * echo()->twipsPerPixelY())));
        QCOMPARE(ini(u"SourceFilter"_qs), u"zel"_qs);

        EchoWindow again(m_app->global(), m_app->logger());
        again.Form_Load();
        QCOMPARE(again.width(), 640);
        QCOMPARE(child<QLineEdit>(&again, "aSourceFilter")->text(), u"zel"_qs);

        m_app->global().hs().SaveIniSetting(u"Quilljot"_qs, u"WindowHeight"_qs, u"tall"_qs,
                                            u"zelXapQuilljot.ini"_qs);
        EchoWindow small(m_app->global(), m_app->logger());
        small.Form_Load();
        QCOMPARE(small.height(), small.minimumSizeHint().height());
    }

    void setupDialogSavesAndSwitchesDatabase() {
        m_desktop->MenuArray_Click(TrayIcon::Setup);
        SetupDialog* setup = m_desktop->setupDialog();
        QVERIFY(setup != nullptr && setup->isVisible());
        QCOMPARE(setup->windowTitle(), u"Quilljot Setup"_qs);
        QVERIFY(child<QRadioButton>(setup, "aProviderOption0")->isChecked());
        QCOMPARE(child<QLineEdit>(setup, "aDatabase")->text(),
                 m_dir->path() + u"/Data/Xap/Quilljot.mdb"_qs);
        setup->close();
        QCOMPARE(ini(u"UseSQL"_qs), u"False"_qs);
        QCOMPARE(ini(u"SQLSource"_qs), u"-"_qs);  // stored empty: reads as the default
        QCOMPARE(ini(u"DatabaseTable"_qs), u"tblQuilljot"_qs);
        QCOMPARE(m_app->logger().sDatabase, m_dir->path() + u"/Data/Xap/Quilljot.mdb"_qs);
        QVERIFY(QFileInfo::exists(m_dir->path() + u"/Data/Xap/Quilljot.mdb"_qs));
        QVERIFY(m_app->logger().dbConnection()->isOpen());

        m_app->global().hs().SaveIniSetting(u"Quilljot"_qs, u"UseSQL"_qs, u"-1"_qs,
                                            u"zelXapQuilljot.ini"_qs);
        m_desktop->MenuArray_Click(TrayIcon::Setup);
        QVERIFY(child<QRadioButton>(setup, "aProviderOption1")->isChecked());
    }

    void menuActions() {
        QSignalSpy exit(m_desktop.get(), &DesktopFrontend::exitRequested);
        for (int idle : {TrayIcon::SystemConfig, TrayIcon::SystemStatus, TrayIcon::Help}) {
            m_desktop->MenuArray_Click(idle);
        }
        QVERIFY(!echo()->isVisible());
        QVERIFY(m_desktop->setupDialog() == nullptr);
        QCOMPARE(exit.size(), 0);
        m_desktop->MenuArray_Click(TrayIcon::Window);
        QVERIFY(echo()->isVisible());
        m_desktop->TrayIconCallback(514);
        QVERIFY(echo()->isVisible());
        m_desktop->MenuArray_Click(TrayIcon::Exit);
        QCOMPARE(exit.size(), 1);

        const auto actions = m_desktop->tray()->menu()->actions();
        QStringList captions;
        for (QAction* a : actions) {
            captions.append(a->isSeparator() ? u"-"_qs : a->text());
        }
        QCOMPARE(captions, QStringList({u"Setup"_qs, u"System Config"_qs, u"System Status"_qs,
                                        u"Window"_qs, u"Help"_qs, u"-"_qs, u"Exit"_qs}));
    }

    void shutdownClosesTheWindowForGood() {
        QPointer<EchoWindow> window = echo();
        m_app->Form_unload();
        QVERIFY(window.isNull());
        QVERIFY(!m_desktop->tray()->iconShown());
        QVERIFY(m_app->global().bAppClosing);
    }

    void trayIconShown() {
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            QSKIP("no system tray on this platform");
        }
        QVERIFY(m_desktop->tray()->iconShown());
    }
};

QTEST_MAIN(UiTest)
#include "tst_ui.moc"
