#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QUdpSocket>
#include <QtTest>

#include "TestFiles.h"
#include "logger/EchoFormat.h"
#include "logger/Logger.h"
#include "support/IniFile.h"
#include "ui/DesktopFrontend.h"
#include "ui/EchoWindow.h"
#include "ui/SetupDialog.h"
#include "ui/TrayIcon.h"

namespace {

const QDateTime kNow(QDate(2026, 12, 5), QTime(8, 30, 0));

QString eventMessage(const LogEvent& e) {
    return u"xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource="_qs +
           e.source + u"\n}\nEvent.Log\n{\nTime="_qs + e.time + u"\nType="_qs + e.type +
           u"\nData="_qs + e.data + u"\n}\n"_qs;
}

}  // namespace

// The desktop front end on a running logger: its node listens on 127.0.0.1 and sends its
// heartbeats and reports to a socket of the test, also on 127.0.0.1; the database is the default
// file database in a temporary application folder.
class UiTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QUdpSocket> m_hub;
    std::unique_ptr<DesktopFrontend> m_desktop;
    std::unique_ptr<Logger> m_logger;
    std::unique_ptr<QSignalSpy> m_logged;

    EchoWindow* echo() { return m_desktop->echoWindow(); }
    template <typename T>
    static T* child(QObject* w, const char* name) {
        T* found = w->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) {
            qFatal("no child named %s", name);
        }
        return found;
    }
    QString settingsPath() const { return m_dir->path() + u"/Config/zelXapQuilljot.ini"_qs; }
    QString setting(const QString& key) const {
        return IniFile::load(settingsPath()).value().read(u"Quilljot"_qs, key, u"-"_qs);
    }
    void writeSetting(const QString& key, const QString& value) {
        IniFile ini = IniFile::load(settingsPath()).value();
        ini.write(u"Quilljot"_qs, key, value);
        QVERIFY(ini.save());
    }
    QString defaultDatabase() const { return m_dir->path() + u"/Data/xapzelQuilljot.mdb"_qs; }

    // Sends the events to the logger's node as a controller would, and waits until the logger
    // has written them all.
    void send(const QList<LogEvent>& events) {
        const qsizetype before = m_logged->size();
        QUdpSocket controller;
        for (const LogEvent& e : events) {
            QCOMPARE(controller.writeDatagram(eventMessage(e).toUtf8(),
                                              QHostAddress(QHostAddress::LocalHost),
                                              quint16(m_logger->node()->port())),
                     qint64(eventMessage(e).toUtf8().size()));
        }
        QTRY_COMPARE(m_logged->size(), before + events.size());
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(writeFile(m_dir->path() + u"/Config/zelXap.ini"_qs,
                          "[Interface]\r\nBroadcastAddress=127.0.0.1\r\n"));
        m_hub = std::make_unique<QUdpSocket>();
        QVERIFY(m_hub->bind(QHostAddress(QHostAddress::LocalHost), 0));

        m_desktop = std::make_unique<DesktopFrontend>();
        Logger::Options options;
        options.place.appDir = m_dir->path();
        options.place.programFile = u"/opt/quilljot/bin/quilljot"_qs;
        options.place.hostName = [] { return u"HOST1"_qs; };
        options.network =
            std::make_unique<FixedHostNetwork>(u"HOST1"_qs, QStringList{u"127.0.0.1"_qs});
        options.xapPort = m_hub->localPort();
        options.clock = [] { return kNow; };
        m_logger = std::make_unique<Logger>(*m_desktop, std::move(options));
        m_desktop->attach(*m_logger);
        m_logged = std::make_unique<QSignalSpy>(m_logger.get(), &Logger::eventLogged);
        QVERIFY(m_logger->start());
        QCOMPARE(m_logger->node()->destination(), u"127.0.0.1"_qs);
        QVERIFY(echo() != nullptr);
        QVERIFY(!echo()->isVisible());
    }
    void cleanup() {
        m_logger->stop();
        m_logged.reset();
        m_logger.reset();
        m_desktop.reset();
    }

    void echoLineFormat() {
        const LogEvent event{u"2026-03-05 14:03:09"_qs, u"zel.hs.pc.abcde"_qs, u"L\r\nog"_qs,
                             u"a\r\nb\rc\nd"_qs};
        QCOMPARE(EchoFormat::line(event),
                 u"zel.hs.pc.abcde     \t2026-03-05 14:03:09 |  L|og  |  a|b|c|d"_qs);
        QCOMPARE(EchoFormat::append(QString(), u"a"_qs), u"\r\na"_qs);
        QString text;
        for (int i = 0; i < 300; ++i) {
            text = EchoFormat::append(text, QString(60, u'x') + QString::number(i));
        }
        QCOMPARE(text.size(), EchoFormat::kMaxEchoText);
        QVERIFY(text.endsWith(u"x299"_qs));
    }

    void liveFiltersAndFreeze() {
        auto* freeze = child<QCheckBox>(echo(), "freezeBox");
        QCOMPARE(freeze->text(), u"Freeze"_qs);

        // Live lines pass the type and data filters only; the source filter narrows the history.
        child<QLineEdit>(echo(), "typeFilter")->setText(u"LOG"_qs);
        child<QLineEdit>(echo(), "sourceFilter")->setText(u"nomatch"_qs);
        echo()->addEvent({u"2026-12-04 10:00:00"_qs, u"a"_qs, u"EventLog"_qs, u"one"_qs});
        echo()->addEvent({u"2026-12-04 10:00:01"_qs, u"a"_qs, u"Status"_qs, u"two"_qs});
        child<QLineEdit>(echo(), "dataFilter")->setText(u"THREE"_qs);
        echo()->addEvent({u"2026-12-04 10:00:02"_qs, u"a"_qs, u"log"_qs, u"four"_qs});
        echo()->addEvent({u"2026-12-04 10:00:03"_qs, u"a"_qs, u"log"_qs, u"three"_qs});
        freeze->setChecked(true);
        echo()->addEvent({u"2026-12-04 10:00:04"_qs, u"a"_qs, u"log"_qs, u"three again"_qs});
        const QStringList lines = echo()->echoText().split(u"\r\n"_qs);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].endsWith(u"EventLog  |  one"_qs));
        QVERIFY(lines[2].endsWith(u"log  |  three"_qs));
        QTRY_COMPARE(child<QPlainTextEdit>(echo(), "echoLines")->toPlainText(),
                     QString(echo()->echoText()).replace(u"\r\n"_qs, u"\n"_qs));
    }

    void loggedEventsReachTheWindow() {
        const LogEvent hello{u"2026-12-04 23:13:09"_qs, u"zel.hs.pc"_qs, u"Log"_qs, u"hello"_qs};
        // Received text is shown as it came, never read as markup.
        const LogEvent markup{u"2026-12-04 23:13:10"_qs, u"zel.hs.pc"_qs, u"Log"_qs,
                              u"<b>bold</b> <a href='file:///etc'>x</a> &amp;"_qs};
        send({hello, markup});
        QCOMPARE(echo()->echoText(),
                 u"\r\n"_qs + EchoFormat::line(hello) + u"\r\n"_qs + EchoFormat::line(markup));
        QTRY_VERIFY(
            child<QPlainTextEdit>(echo(), "echoLines")->toPlainText().endsWith(markup.data));
    }

    void historyShowsTheLastSevenDaysAndComesBack() {
        const LogEvent recent{u"2026-12-04 10:00:00"_qs, u"new"_qs, u"Log"_qs, u"abc recent"_qs};
        const LogEvent old{u"2026-11-20 10:00:00"_qs, u"old"_qs, u"Log"_qs, u"too old"_qs};
        const LogEvent earlier{u"2026-12-03 10:00:00"_qs, u"new"_qs, u"Log"_qs, u"earlier"_qs};
        send({recent, old, earlier});
        const QString live = echo()->echoText();

        // The history follows the live lines, oldest row first.
        auto* history = child<QPushButton>(echo(), "historyButton");
        history->click();
        QCOMPARE(history->text(), u"Current"_qs);
        QVERIFY(echo()->showingHistory());
        const QString shown =
            live + u"\r\n"_qs + EchoFormat::line(earlier) + u"\r\n"_qs + EchoFormat::line(recent);
        QCOMPARE(echo()->echoText(), shown);

        // What arrives while the history is shown is not kept for the live lines.
        send({{u"2026-12-05 08:01:00"_qs, u"live"_qs, u"Log"_qs, u"lost"_qs}});
        history->click();
        QCOMPARE(history->text(), u"History"_qs);
        QVERIFY(!echo()->showingHistory());
        QCOMPARE(echo()->echoText(), live);

        // Reloading the settings leaves the window's state alone: the next click goes back.
        history->click();
        m_logger->reloadSettings();
        history->click();
        QVERIFY(!echo()->showingHistory());
        QCOMPARE(echo()->echoText(), live);

        child<QLineEdit>(echo(), "sourceFilter")->setText(u"NEW"_qs);
        child<QLineEdit>(echo(), "dataFilter")->setText(u"ABC"_qs);
        history->click();
        QCOMPARE(echo()->echoText(), live + u"\r\n"_qs + EchoFormat::line(recent));
    }

    void closingHidesAndSavesSizeAndFilters() {
        echo()->show();
        echo()->resize(640, 300);
        child<QLineEdit>(echo(), "sourceFilter")->setText(u"zel"_qs);
        echo()->addEvent({u"2026-12-04 10:00:00"_qs, u"a"_qs, u"Log"_qs, u"kept"_qs});
        QVERIFY(!echo()->close());
        QVERIFY(!echo()->isVisible());
        QVERIFY(echo()->echoText().contains(u"kept"_qs));
        QCOMPARE(setting(u"WindowWidth"_qs),
                 QString::number(qRound(640 * echo()->twipsPerPixelX())));
        QCOMPARE(setting(u"WindowHeight"_qs),
                 QString::number(qRound(300 * echo()->twipsPerPixelY())));
        QCOMPARE(setting(u"SourceFilter"_qs), u"zel"_qs);

        EchoWindow again(*m_logger);
        again.restore();
        QCOMPARE(again.size(), QSize(640, 300));
        QCOMPARE(child<QLineEdit>(&again, "sourceFilter")->text(), u"zel"_qs);

        // A size that is no number gives the window its smallest size.
        writeSetting(u"WindowHeight"_qs, u"tall"_qs);
        m_logger->reloadSettings();
        EchoWindow small(*m_logger);
        small.restore();
        QCOMPARE(small.height(), small.minimumSizeHint().height());
    }

    void setupDialogShowsSettingsInEffectAndSwitchesDatabase() {
        // A settings file changed behind the logger's back is not what the logger uses.
        writeSetting(u"Database"_qs, u"Data/elsewhere.mdb"_qs);
        m_desktop->onMenuChosen(TrayIcon::Setup);
        SetupDialog* setup = m_desktop->setupDialog();
        QVERIFY(setup != nullptr && setup->isVisible());
        QCOMPARE(setup->windowTitle(), u"Quilljot Setup"_qs);
        QVERIFY(child<QRadioButton>(setup, "fileDatabaseOption")->isChecked());
        QVERIFY(!child<QRadioButton>(setup, "sqlServerOption")->isChecked());
        QVERIFY(!child<QRadioButton>(setup, "postgresqlOption")->isChecked());
        QCOMPARE(child<QLineEdit>(setup, "sqlSourceField")->text(), QString());
        QCOMPARE(child<QLineEdit>(setup, "databaseField")->text(), defaultDatabase());
        QCOMPARE(child<QLineEdit>(setup, "tableField")->text(), u"tblQuilljot"_qs);

        const QString chosen = m_dir->path() + u"/Data/Xap/Quilljot.mdb"_qs;
        child<QLineEdit>(setup, "databaseField")->setText(chosen);
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(!setup->isVisible());
        QCOMPARE(setting(u"UseSQL"_qs), u"False"_qs);
        QCOMPARE(setting(u"Engine"_qs), u"file"_qs);
        QCOMPARE(setting(u"SQLSource"_qs), u"-"_qs);  // stored empty: reads as the default
        QCOMPARE(setting(u"Database"_qs), chosen);
        QCOMPARE(setting(u"DatabaseTable"_qs), u"tblQuilljot"_qs);
        QCOMPARE(m_logger->settings().database.database, chosen);
        QVERIFY(m_logger->databaseOpen());
        QVERIFY(QFileInfo::exists(chosen));

        // Opened again, it shows the choice now in effect, not what was typed and cancelled.
        m_desktop->showSetupDialog();
        child<QLineEdit>(setup, "databaseField")->setText(u"typed, never saved"_qs);
        child<QPushButton>(setup, "cancelButton")->click();
        m_desktop->showSetupDialog();
        QVERIFY(setup->isVisible());
        QCOMPARE(child<QLineEdit>(setup, "databaseField")->text(), chosen);

        // The password is masked in the field, and kept when the field is left as it is.
        const QString source = u"127.0.0.1,1; User ID=sa; Password=S3cret"_qs;
        child<QLineEdit>(setup, "sqlSourceField")->setText(source);
        child<QPushButton>(setup, "saveButton")->click();
        m_desktop->showSetupDialog();
        QVERIFY(!child<QLineEdit>(setup, "sqlSourceField")->text().contains(u"S3cret"_qs));
        child<QPushButton>(setup, "saveButton")->click();
        QCOMPARE(setting(u"SQLSource"_qs), source);
    }

    void setupEscapeAndCancelSaveNothing() {
        send({{u"2026-12-05 08:00:00"_qs, u"zel.hs.pc"_qs, u"Log"_qs, u"kept"_qs}});
        const QByteArray before = readFile(settingsPath());
        m_desktop->showSetupDialog();
        SetupDialog* setup = m_desktop->setupDialog();
        child<QRadioButton>(setup, "sqlServerOption")->click();
        QTest::keyClick(setup, Qt::Key_Escape);
        QVERIFY(!setup->isVisible());
        m_desktop->showSetupDialog();
        child<QLineEdit>(setup, "databaseField")->setText(m_dir->path() + u"/other.mdb"_qs);
        child<QPushButton>(setup, "cancelButton")->click();
        setup->show();
        setup->close();
        QCOMPARE(readFile(settingsPath()), before);
        QCOMPARE(m_logger->settings().database.kind, DatabaseKind::File);
        QCOMPARE(m_logger->settings().database.database, defaultDatabase());
        QVERIFY(!QFileInfo::exists(m_dir->path() + u"/other.mdb"_qs));
    }

    void setupFieldsFollowTheKindAndTestWithoutSaving() {
        send({{u"2026-12-05 08:00:00"_qs, u"zel.hs.pc"_qs, u"Log"_qs, u"one"_qs},
              {u"2026-12-05 08:00:01"_qs, u"zel.hs.pc"_qs, u"Log"_qs, u"two"_qs}});
        const QByteArray before = readFile(settingsPath());
        m_desktop->showSetupDialog();
        SetupDialog* setup = m_desktop->setupDialog();
        auto* database = child<QLineEdit>(setup, "databaseField");
        auto* source = child<QLineEdit>(setup, "sqlSourceField");
        auto* message = child<QLabel>(setup, "setupMessage");
        QVERIFY(!source->isEnabled());
        QVERIFY(child<QPushButton>(setup, "browseButton")->isVisibleTo(setup));

        child<QPushButton>(setup, "testConnectionButton")->click();
        QVERIFY2(message->text().contains(u"2 rows"_qs), qPrintable(message->text()));

        // A server's database is a name, never the file path shown for the file database.
        child<QRadioButton>(setup, "sqlServerOption")->click();
        QVERIFY(source->isEnabled());
        QVERIFY(!child<QPushButton>(setup, "browseButton")->isVisibleTo(setup));
        QCOMPARE(database->text(), QString());
        source->setText(u"127.0.0.1,1"_qs);
        database->setText(u"/srv/HomeLog.mdb"_qs);
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(setup->isVisible());
        QVERIFY2(message->text().contains(u"plain name"_qs), qPrintable(message->text()));
        child<QRadioButton>(setup, "postgresqlOption")->click();
        QCOMPARE(database->text(), u"/srv/HomeLog.mdb"_qs);
        child<QRadioButton>(setup, "fileDatabaseOption")->click();
        QCOMPARE(database->text(), defaultDatabase());

        // A file database that cannot be opened says so in the dialog.
        QVERIFY(QDir().mkpath(m_dir->path() + u"/folder.mdb"_qs));
        database->setText(m_dir->path() + u"/folder.mdb"_qs);
        child<QPushButton>(setup, "testConnectionButton")->click();
        QVERIFY2(message->text().contains(u"folder"_qs), qPrintable(message->text()));
        child<QPushButton>(setup, "cancelButton")->click();
        QCOMPARE(readFile(settingsPath()), before);
    }

    void menuActions() {
        QMenu* menu = m_desktop->tray()->menu();
        QStringList captions;
        for (QAction* a : menu->actions()) {
            captions.append(a->isSeparator() ? u"-"_qs : a->text());
        }
        QCOMPARE(captions, QStringList({u"Setup"_qs, u"System Config"_qs, u"System Status"_qs,
                                        u"Window"_qs, u"Help"_qs, u"-"_qs, u"Exit"_qs}));

        QSignalSpy exit(m_desktop.get(), &DesktopFrontend::exitRequested);
        for (const char* idle : {"menuSystemConfig", "menuSystemStatus", "menuHelp"}) {
            child<QAction>(menu, idle)->trigger();
        }
        QVERIFY(!echo()->isVisible());
        QVERIFY(m_desktop->setupDialog() == nullptr);
        QCOMPARE(exit.size(), 0);

        // Only a left click on the icon opens the window; the right click opens the menu.
        auto* icon = m_desktop->tray()->findChild<QSystemTrayIcon*>();
        QVERIFY(icon != nullptr);
        emit icon->activated(QSystemTrayIcon::Context);
        QVERIFY(!echo()->isVisible());
        emit icon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(echo()->isVisible());
        echo()->hide();
        child<QAction>(menu, "menuWindow")->trigger();
        QVERIFY(echo()->isVisible());
        child<QAction>(menu, "menuSetup")->trigger();
        QVERIFY(m_desktop->setupDialog() != nullptr && m_desktop->setupDialog()->isVisible());
        child<QAction>(menu, "menuExit")->trigger();
        QCOMPARE(exit.size(), 1);
    }

    void shutdownClosesTheWindowForGood() {
        QVERIFY(m_desktop->tray()->iconShown());
        echo()->show();
        m_desktop->showSetupDialog();
        child<QLineEdit>(echo(), "dataFilter")->setText(u"door"_qs);
        QPointer<EchoWindow> window = echo();
        m_logger->stop();
        QVERIFY(window.isNull());
        QVERIFY(!m_desktop->setupDialog()->isVisible());
        QVERIFY(!m_desktop->tray()->iconShown());
        QCOMPARE(setting(u"DataFilter"_qs), u"door"_qs);
        QVERIFY(m_logger->stopped());
    }
};

QTEST_MAIN(UiTest)
#include "tst_ui.moc"
