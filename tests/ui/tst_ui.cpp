#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDateEdit>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QUdpSocket>
#include <QtTest>

#include "TestFiles.h"
#include "logger/EchoFormat.h"
#include "logger/Logger.h"
#include "support/IniFile.h"
#include "ui/DesktopFrontend.h"
#include "ui/EchoWindow.h"
#include "ui/HelpBox.h"
#include "ui/HistoryModel.h"
#include "ui/HistoryView.h"
#include "ui/LiveEventModel.h"
#include "ui/SetupDialog.h"
#include "ui/StatusWindow.h"
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

public slots:
    void openedUrl(const QUrl& url) { m_openedUrls.append(url); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QUdpSocket> m_hub;
    std::unique_ptr<DesktopFrontend> m_desktop;
    std::unique_ptr<Logger> m_logger;
    int m_logged = 0;
    QList<QUrl> m_openedUrls;

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
        const qsizetype before = m_logged;
        QUdpSocket controller;
        for (const LogEvent& e : events) {
            QCOMPARE(controller.writeDatagram(eventMessage(e).toUtf8(),
                                              QHostAddress(QHostAddress::LocalHost),
                                              quint16(m_logger->node()->port())),
                     qint64(eventMessage(e).toUtf8().size()));
        }
        QTRY_COMPARE(qsizetype(m_logged), before + events.size());
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
        options.network = std::make_unique<FixedHostNetwork>(QStringList{u"127.0.0.1"_qs});
        options.xapPort = m_hub->localPort();
        options.clock = [] { return kNow; };
        m_logger = std::make_unique<Logger>(*m_desktop, std::move(options));
        m_desktop->attach(*m_logger);
        connect(m_logger.get(), &Logger::eventsLogged, this,
                [this](const QList<LogEvent>& events) { m_logged += int(events.size()); });
        QVERIFY(m_logger->start());
        QCOMPARE(m_logger->node()->destination(), u"127.0.0.1"_qs);
        QVERIFY(echo() != nullptr);
        QVERIFY(!echo()->isVisible());
    }
    void cleanup() {
        m_logger->stop();
        m_logged = 0;
        m_logger.reset();
        m_desktop.reset();
    }

    void echoLineFormat() {
        const LogEvent event{u"2026-03-05 14:03:09"_qs, u"zel.hs.pc.abcde"_qs, u"L\r\nog"_qs,
                             u"a\r\nb\rc\nd"_qs};
        QCOMPARE(EchoFormat::line(event),
                 u"zel.hs.pc.abcde     \t2026-03-05 14:03:09 |  L|og  |  a|b|c|d"_qs);
    }

    void liveViewFiltersFreezesAndClears() {
        auto* freeze = child<QCheckBox>(echo(), "freezeBox");
        auto* tally = child<QLabel>(echo(), "liveTally");
        LiveEventModel* live = echo()->liveModel();
        send({{u"2026-12-04 10:00:00"_qs, u"hs.den"_qs, u"EventLog"_qs, u"one"_qs},
              {u"2026-12-04 10:00:01"_qs, u"zel.hall"_qs, u"Status"_qs, u"two"_qs},
              {u"2026-12-04 10:00:02"_qs, u"hs.den"_qs, u"log"_qs, u"three"_qs}});
        QCOMPARE(echo()->liveLines().size(), 3);

        // Every filter narrows the lines already shown, the source's too.
        child<QLineEdit>(echo(), "sourceFilter")->setText(u"DEN"_qs);
        QCOMPARE(echo()->liveLines().size(), 2);
        child<QLineEdit>(echo(), "typeFilter")->setText(u"log"_qs);
        child<QLineEdit>(echo(), "dataFilter")->setText(u"THR"_qs);
        QCOMPARE(echo()->liveLines(),
                 QStringList{EchoFormat::line(
                     {u"2026-12-04 10:00:02"_qs, u"hs.den"_qs, u"log"_qs, u"three"_qs})});
        echo()->addEvents({{u"2026-12-04 10:00:03"_qs, u"zel.hall"_qs, u"log"_qs, u"three"_qs}});
        QCOMPARE(echo()->liveLines().size(), 1);
        for (const char* f : {"sourceFilter", "typeFilter", "dataFilter"}) {
            child<QLineEdit>(echo(), f)->clear();
        }
        QCOMPARE(echo()->liveLines().size(), 4);
        // The whole text of a line is in its tooltip, line breaks kept, never read as markup.
        const QString markup = u"a\nb <a href='file:///etc'>x</a> &amp;"_qs;
        echo()->addEvents({{u"2026-12-04 10:00:04"_qs, u"zel.hall"_qs, u"log"_qs, markup}});
        QVERIFY(live->data(live->index(4), Qt::ToolTipRole)
                    .toString()
                    .contains(markup.toHtmlEscaped()));

        // Frozen, arriving events are held and counted, then shown in order.
        freeze->setChecked(true);
        send({{u"2026-12-05 08:00:00"_qs, u"hs.den"_qs, u"Log"_qs, u"held 1"_qs},
              {u"2026-12-05 08:00:01"_qs, u"hs.den"_qs, u"Log"_qs, u"held 2"_qs}});
        QCOMPARE(echo()->liveLines().size(), 5);
        QVERIFY2(tally->text().contains(u"2 new events held"_qs), qPrintable(tally->text()));
        // The history is its own view, frozen or not.
        echo()->showHistory();
        QCOMPARE(echo()->history()->model()->rowCount(), 5);
        echo()->showLive();
        freeze->setChecked(false);
        QCOMPARE(echo()->liveLines().size(), 7);
        QVERIFY(echo()->liveLines().last().endsWith(u"held 2"_qs));
        QVERIFY(!tally->text().contains(u"held"_qs));

        child<QPushButton>(echo(), "clearButton")->click();
        QVERIFY(echo()->liveLines().isEmpty());

        // Bounded: the oldest lines leave the view, and the window says so.
        for (std::size_t i = 0; i < LiveEventModel::kKeptEvents + 10; ++i) {
            echo()->addEvents({{u"2026-12-05 08:00:00"_qs, u"s"_qs, u"t"_qs, QString::number(i)}});
        }
        QCOMPARE(echo()->liveLines().size(), qsizetype(LiveEventModel::kKeptEvents));
        QVERIFY(echo()->liveLines().first().endsWith(u"  10"_qs));
        QVERIFY2(tally->text().contains(u"10 older lines left the view"_qs),
                 qPrintable(tally->text()));
        freeze->setChecked(true);
        for (std::size_t i = 0; i < LiveEventModel::kHeldEvents + 5; ++i) {
            echo()->addEvents({{u"2026-12-05 08:00:00"_qs, u"s"_qs, u"t"_qs, u"h"_qs}});
        }
        QCOMPARE(live->held(), LiveEventModel::kHeldEvents);
        QCOMPARE(live->droppedFromView(), quint64(15));
    }

    void historyIsATableOfEveryRowInTheRange() {
        // More rows than a page, with more text than the old echo text held; rows of one second
        // straddle the pages' borders.
        QList<LogEvent> events;
        for (int i = 0; i < 1200; ++i) {
            events.append({QDateTime(QDate(2026, 12, 1), QTime(0, 0))
                               .addSecs(i / 3 * 60)
                               .toString(u"yyyy-MM-dd HH:mm:ss"_qs),
                           i % 2 ? u"hs.den"_qs : u"zel.hall"_qs, u"Log"_qs,
                           u"event %1 "_qs.arg(i) + QString(40, u'x')});
        }
        events.append({u"2026-11-20 10:00:00"_qs, u"old"_qs, u"Log"_qs, u"too old"_qs});
        events.append({u"2026-12-06 10:00:00"_qs, u"later"_qs, u"Log"_qs, u"after today"_qs});
        send(events);
        const QStringList live = echo()->liveLines();

        echo()->showHistory();
        HistoryModel* model = echo()->history()->model();
        auto* table = child<QTableView>(echo(), "historyTable");
        QCOMPARE(model->total(), qint64(1200));
        QCOMPARE(model->columnCount(), 4);
        QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), u"Time"_qs);
        while (model->canFetchMore({})) {
            model->fetchMore({});
        }
        QCOMPARE(model->rowCount(), 1200);
        for (int r = 0; r < 1200; ++r) {
            QCOMPARE(model->row(r).event, events[1199 - r]);  // newest first, none missing
        }
        QVERIFY(child<QLabel>(echo(), "historyTally")->text().contains(u"rows"_qs));

        // A live event never enters the history; the live view keeps it.
        const LogEvent arriving{u"2026-12-05 08:01:00"_qs, u"live"_qs, u"Log"_qs, u"arrives"_qs};
        send({arriving});
        QCOMPARE(model->rowCount(), 1200);
        echo()->showLive();
        QCOMPARE(echo()->liveLines(), live + QStringList{EchoFormat::line(arriving)});

        // The range and the filters narrow it; oldest first on request.
        echo()->showHistory();
        child<QDateEdit>(echo(), "fromDate")->setDate(QDate(2026, 11, 20));
        child<QDateEdit>(echo(), "toDate")->setDate(QDate(2026, 11, 20));
        QCOMPARE(model->total(), qint64(1));
        child<QDateEdit>(echo(), "toDate")->setDate(QDate(2026, 12, 6));
        QCOMPARE(model->total(), qint64(1203));
        table->sortByColumn(HistoryModel::Time, Qt::AscendingOrder);
        while (model->canFetchMore({})) {
            model->fetchMore({});
        }
        QCOMPARE(model->rowCount(), 1203);
        for (int r = 0; r < 1200; ++r) {
            QCOMPARE(model->row(r + 1).event, events[r]);
        }
        // By another column across pages: equal values in the order logged, reversed with it.
        table->sortByColumn(HistoryModel::Source, Qt::DescendingOrder);
        while (model->canFetchMore({})) {
            model->fetchMore({});
        }
        QCOMPARE(model->rowCount(), 1203);
        for (int r = 0; r < 600; ++r) {
            QCOMPARE(model->row(r).event, events[1198 - 2 * r]);
            QCOMPARE(model->row(r + 603).event, events[1199 - 2 * r]);
        }
        QCOMPARE(model->row(600).event.source, u"old"_qs);
        QCOMPARE(model->row(601).event.source, u"live"_qs);
        QCOMPARE(model->row(602).event.source, u"later"_qs);
        table->sortByColumn(HistoryModel::Time, Qt::AscendingOrder);
        child<QLineEdit>(echo(), "sourceFilter")->setText(u"DEN"_qs);
        child<QLineEdit>(echo(), "dataFilter")->setText(u"event 1_9 "_qs);
        QTRY_COMPARE(model->total(), qint64(10));  // 109, 119, ... 199: odd, so from the den
        QCOMPARE(model->row(0).event, events[109]);

        // Export: every row of the range and filters, as CSV; stopped, it leaves no file.
        const QString csv = m_dir->path() + u"/out.csv"_qs;
        const Result<qint64> exported = echo()->history()->exportTo(csv);
        QVERIFY(exported);
        QCOMPARE(exported.value(), qint64(10));
        const QList<QByteArray> lines = readFile(csv).split('\n');
        QCOMPARE(lines.size(), 12);
        QCOMPARE(lines[0], QByteArray("ID,Time,Source,Type,Data\r"));
        QVERIFY(lines[1].contains("2026-12-01 00:36:00,hs.den,Log,event 109"));
        const QString stopped = m_dir->path() + u"/stopped.csv"_qs;
        QVERIFY(!echo()->history()->exportTo(stopped, [](qint64) { return false; }));
        QVERIFY(!QFileInfo::exists(stopped));

        // Copy: the selected rows as text, one line each.
        table->selectRow(0);
        table->selectionModel()->select(model->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        child<QPushButton>(echo(), "copyButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 u"2026-12-01 00:36:00\ths.den\tLog\tevent 109 "_qs + QString(40, u'x') +
                     u"\n2026-12-01 00:39:00\ths.den\tLog\tevent 119 "_qs + QString(40, u'x') +
                     u"\n"_qs);
    }

    void historyProblemsAreSaidInTheWindow() {
        send({{u"2026-12-05 08:00:00"_qs, u"hs.den"_qs, u"Log"_qs, u"it's open"_qs}});
        echo()->showHistory();
        child<QLineEdit>(echo(), "dataFilter")->setText(u"it's"_qs);
        QTRY_COMPARE(echo()->history()->model()->total(), qint64(1));
        auto* problem = child<QLabel>(echo(), "historyProblem");
        QVERIFY(!problem->isVisibleTo(echo()));

        // A database that cannot be read is said on the page, not only reported on the network.
        m_desktop->showSetupDialog();
        SetupDialog* setup = m_desktop->setupDialog();
        child<QRadioButton>(setup, "postgresqlOption")->click();
        child<QLineEdit>(setup, "sqlSourceField")->setText(u"127.0.0.1,1; User ID=x"_qs);
        child<QLineEdit>(setup, "databaseField")->setText(u"HomeLog"_qs);
        QSignalSpy reloaded(m_logger.get(), &Logger::settingsReloaded);
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(reloaded.wait());
        child<QPushButton>(echo(), "refreshHistory")->click();
        QVERIFY(problem->isVisibleTo(echo()));
        QVERIFY2(problem->text().startsWith(u"The history could not be read"_qs),
                 qPrintable(problem->text()));
        QCOMPARE(echo()->history()->model()->rowCount(), 0);
    }

    void closingHidesAndSavesSizeAndFilters() {
        echo()->show();
        echo()->resize(640, 300);
        child<QLineEdit>(echo(), "sourceFilter")->setText(u"zel"_qs);
        echo()->addEvents({{u"2026-12-04 10:00:00"_qs, u"zel.a"_qs, u"Log"_qs, u"kept"_qs}});
        QVERIFY(!echo()->close());
        QVERIFY(!echo()->isVisible());
        QVERIFY(echo()->liveLines().last().endsWith(u"kept"_qs));
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
        QCOMPARE(setting(u"Database"_qs), chosen);
        QCOMPARE(m_logger->settings().database.database, chosen);
        QTRY_VERIFY(QFileInfo::exists(chosen));
        QTRY_VERIFY(m_logger->databaseOpen());

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
        QVERIFY2(message->text().contains(u"plain database name"_qs), qPrintable(message->text()));
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
        // System Config opens the settings folder (here in the test's stand-in file manager).
        QDesktopServices::setUrlHandler(u"file"_qs, this, "openedUrl");
        child<QAction>(menu, "menuSystemConfig")->trigger();
        QDesktopServices::unsetUrlHandler(u"file"_qs);
        QCOMPARE(m_openedUrls,
                 QList<QUrl>{QUrl::fromLocalFile(QFileInfo(settingsPath()).absolutePath())});

        send({{u"2026-12-05 08:00:00"_qs, u"zel.hs.pc"_qs, u"Log"_qs, u"one"_qs}});
        child<QAction>(menu, "menuSystemStatus")->trigger();
        StatusWindow* status = m_desktop->statusWindow();
        QVERIFY(status != nullptr && status->isVisible());
        QVERIFY2(status->lineText(u"node"_qs)
                     .contains(u"127.0.0.1:"_qs + QString::number(m_logger->node()->port())),
                 qPrintable(status->lineText(u"node"_qs)));
        QTRY_VERIFY2(status->lineText(u"events"_qs).contains(u"1 events written"_qs),
                     qPrintable(status->lineText(u"events"_qs)));
        QVERIFY2(status->lineText(u"reports"_qs).endsWith(u" sent"_qs) &&
                     status->lineText(u"reports"_qs) != u"0 sent"_qs,
                 qPrintable(status->lineText(u"reports"_qs)));
        QVERIFY(status->lineText(u"hub"_qs).startsWith(u"heard"_qs));
        QVERIFY(child<QPlainTextEdit>(status, "statusReports")
                    ->toPlainText()
                    .contains(u"Using xAP port"_qs));
        QVERIFY(status->lineText(u"database"_qs)
                    .contains(defaultDatabase() + u", table tblQuilljot (open)"_qs));

        child<QAction>(menu, "menuHelp")->trigger();
        QVERIFY(m_desktop->helpBox() != nullptr && m_desktop->helpBox()->isVisible());
        const QString help = child<QLabel>(m_desktop->helpBox(), "helpText")->text();
        QVERIFY(help.contains(u"Quilljot "_qs + QStringLiteral(QUILLJOT_VERSION)));
        QVERIFY(help.contains(u"Settings: "_qs + settingsPath()));
        QVERIFY(help.contains(m_dir->path() + u"/Data/xapzelQuilljot/xapzelQuilljot.txt"_qs));
        QVERIFY(!echo()->isVisible());
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
        QVERIFY(m_desktop->setupDialog()->isVisible());
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
