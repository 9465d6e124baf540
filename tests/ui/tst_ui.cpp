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
#include <QTabWidget>
#include <QTableView>
#include <QUdpSocket>
#include <QtTest>
#include <atomic>

#include "LoopbackLogger.h"
#include "TestFiles.h"
#include "TestProcesses.h"
#include "logger/EchoFormat.h"
#include "logger/Logger.h"
#include "settings/IniFile.h"
#include "ui/ActivityChartView.h"
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

LogEvent ev(const char* time, const char* source, const char* type, const char* data) {
    return {QString::fromUtf8(time), QString::fromUtf8(source), QString::fromUtf8(type),
            QString::fromUtf8(data)};
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
    std::unique_ptr<LoopbackLogger> m_place;
    std::unique_ptr<DesktopFrontend> m_desktop;
    std::unique_ptr<Logger> m_logger;
    int m_logged = 0;
    QList<QUrl> m_openedUrls;
    // The logger's clock: seconds after kNow (read on the logger's threads).
    std::atomic<int> m_seconds{0};

    EchoWindow* echo() { return m_desktop->echoWindow(); }
    template <typename T>
    static T* child(QObject* w, const char* name) {
        T* found = w->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) {
            qFatal("no child named %s", name);
        }
        return found;
    }
    QString settingsPath() const {
        return m_place->dir.path() + QStringLiteral("/Config/zelXapQuilljot.ini");
    }
    QString setting(const QString& key) const {
        return IniFile::load(settingsPath())
            .value()
            .read(QStringLiteral("Quilljot"), key, QStringLiteral("-"));
    }
    void writeSetting(const QString& key, const QString& value) {
        IniFile ini = IniFile::load(settingsPath()).value();
        ini.write(QStringLiteral("Quilljot"), key, value);
        QVERIFY(ini.save());
    }
    QString defaultDatabase() const {
        return m_place->dir.path() + QStringLiteral("/Data/xapzelQuilljot.mdb");
    }

    // Sends the events to the logger's node as a controller would, and waits until the logger
    // has written them all.
    void send(const QList<LogEvent>& events) {
        const qsizetype before = m_logged;
        QUdpSocket controller;
        for (const LogEvent& e : events) {
            QCOMPARE(
                controller.writeDatagram(eventDatagram(e), QHostAddress(QHostAddress::LocalHost),
                                         quint16(m_logger->node()->port())),
                qint64(eventDatagram(e).size()));
        }
        QTRY_COMPARE(qsizetype(m_logged), before + events.size());
    }

private slots:
    void init() {
        m_place = std::make_unique<LoopbackLogger>();
        QVERIFY(m_place->prepare());
        m_desktop = std::make_unique<DesktopFrontend>();
        Logger::Options options = m_place->options();
        m_seconds = 0;
        options.clock = [this] { return kNow.addSecs(m_seconds); };
        m_logger = std::make_unique<Logger>(*m_desktop, std::move(options));
        m_desktop->attach(*m_logger);
        connect(m_logger.get(), &Logger::eventsLogged, this,
                [this](const QList<LogEvent>& events) { m_logged += int(events.size()); });
        QVERIFY(m_logger->start());
        QCOMPARE(m_logger->node()->destination(), QStringLiteral("127.0.0.1"));
        QVERIFY(echo() != nullptr);
        QVERIFY(!echo()->isVisible());
    }
    void cleanup() {
        m_logger->stop();
        m_logged = 0;
        m_logger.reset();
        m_desktop.reset();
    }

    void liveViewFiltersFreezesAndClears() {
        auto* freeze = child<QCheckBox>(echo(), "freezeBox");
        auto* tally = child<QLabel>(echo(), "liveTally");
        LiveEventModel* live = echo()->liveModel();
        send({ev("2026-12-04 10:00:00", "hs.den", "EventLog", "one"),
              ev("2026-12-04 10:00:01", "zel.hall", "Status", "two"),
              ev("2026-12-04 10:00:02", "hs.den", "log", "three")});
        QCOMPARE(echo()->liveLines().size(), 3);

        // Every filter narrows the lines already shown, the source's too.
        child<QLineEdit>(echo(), "sourceFilter")->setText(QStringLiteral("DEN"));
        QCOMPARE(echo()->liveLines().size(), 2);
        child<QLineEdit>(echo(), "typeFilter")->setText(QStringLiteral("log"));
        child<QLineEdit>(echo(), "dataFilter")->setText(QStringLiteral("THR"));
        QCOMPARE(
            echo()->liveLines(),
            QStringList{EchoFormat::line(ev("2026-12-04 10:00:02", "hs.den", "log", "three"))});
        echo()->addEvents({ev("2026-12-04 10:00:03", "zel.hall", "log", "three")});
        QCOMPARE(echo()->liveLines().size(), 1);
        for (const char* f : {"sourceFilter", "typeFilter", "dataFilter"}) {
            child<QLineEdit>(echo(), f)->clear();
        }
        QCOMPARE(echo()->liveLines().size(), 4);
        // The whole text of a line is in its tooltip, line breaks kept, never read as markup;
        // the line itself stays one line.
        const QString markup = QStringLiteral("a\nb <a href='file:///etc'>x</a> &amp;");
        echo()->addEvents({{QStringLiteral("2026-12-04 10:00:04"), QStringLiteral("zel.hall"),
                            QStringLiteral("log"), markup}});
        QVERIFY(!echo()->liveLines().last().contains(u'\n'));
        QVERIFY(live->data(live->index(4), Qt::ToolTipRole)
                    .toString()
                    .contains(markup.toHtmlEscaped()));

        // Frozen, arriving events are held and counted, then shown in order.
        freeze->setChecked(true);
        send({ev("2026-12-05 08:00:00", "hs.den", "Log", "held 1"),
              ev("2026-12-05 08:00:01", "hs.den", "Log", "held 2")});
        QCOMPARE(echo()->liveLines().size(), 5);
        QVERIFY2(tally->text().contains(QStringLiteral("2 new events held")),
                 qPrintable(tally->text()));
        // The history is its own view, frozen or not.
        echo()->showHistory();
        QCOMPARE(echo()->history()->model()->rowCount(), 5);
        echo()->showLive();
        freeze->setChecked(false);
        QCOMPARE(echo()->liveLines().size(), 7);
        QVERIFY(echo()->liveLines().last().endsWith(QStringLiteral("held 2")));
        QVERIFY(!tally->text().contains(QStringLiteral("held")));

        child<QPushButton>(echo(), "clearButton")->click();
        QVERIFY(echo()->liveLines().isEmpty());

        // Bounded: the oldest lines leave the view, and the window says so.
        for (std::size_t i = 0; i < LiveEventModel::kKeptEvents + 10; ++i) {
            echo()->addEvents({{QStringLiteral("2026-12-05 08:00:00"), QStringLiteral("s"),
                                QStringLiteral("t"), QString::number(i)}});
        }
        QCOMPARE(echo()->liveLines().size(), qsizetype(LiveEventModel::kKeptEvents));
        QVERIFY(echo()->liveLines().first().endsWith(QStringLiteral("  10")));
        QVERIFY2(tally->text().contains(QStringLiteral("10 older lines left the view")),
                 qPrintable(tally->text()));
        freeze->setChecked(true);
        for (std::size_t i = 0; i < LiveEventModel::kHeldEvents + 5; ++i) {
            echo()->addEvents({ev("2026-12-05 08:00:00", "s", "t", "h")});
        }
        QCOMPARE(live->held(), LiveEventModel::kHeldEvents);
        QCOMPARE(live->droppedFromView(), quint64(15));
    }

    // The chart above the history: a bar per hour of the eight days shown, gaps where nothing
    // was logged; a drag over bars narrows the table to their hours.
    void historyChartCountsEachHourAndADragNarrowsTheTable() {
        QList<LogEvent> events;
        for (const char* time : {"2026-12-02 08:10:00", "2026-12-02 08:20:00",
                                 "2026-12-02 08:59:59", "2026-12-02 10:05:00"}) {
            events.append(ev(time, "hs.den", "Log", "charted"));
        }
        send(events);
        echo()->showHistory();
        ActivityChartView* chart = echo()->history()->chart();
        const QList<ActivityBucket>& buckets = chart->chart().buckets;
        QCOMPARE(buckets.size(), 8 * 24);  // 2026-11-28 to 2026-12-05, by hours
        const int eight = 4 * 24 + 8;
        QCOMPARE(buckets[eight].start, QStringLiteral("2026-12-02 08:00:00"));
        // Gaps and whole hours are the store's activityChartBuckets; here the window's range.
        QCOMPARE(buckets[eight].count, 3);
        QCOMPARE(buckets[eight + 2].count, 1);
        chart->resize(960, 110);
        QVERIFY(chart->barRect(eight + 1).isEmpty());
        QCOMPARE(chart->barRect(eight + 2).height() * 3, chart->barRect(eight).height());
        QCOMPARE(chart->describe(eight),
                 QStringLiteral("2026-12-02 08:00 – 2026-12-02 09:00: 3 events"));

        const auto at = [&](int bucket) { return chart->barRect(bucket).center().toPoint(); };
        const QPoint nine = (at(eight) + at(eight + 2)) / 2;  // the empty hour between
        QTest::mousePress(chart, Qt::LeftButton, {}, at(eight));
        QTest::mouseMove(chart, nine);
        QTest::mouseRelease(chart, Qt::LeftButton, {}, nine);
        QCOMPARE(echo()->history()->query().from, QStringLiteral("2026-12-02 08:00:00"));
        QCOMPARE(echo()->history()->query().to, QStringLiteral("2026-12-02 10:00:00"));
        QCOMPARE(echo()->history()->model()->total(), qint64(3));
        QVERIFY(child<QLabel>(echo(), "narrowNote")->isVisibleTo(echo()));
        // Two hours are drawn by minutes.
        QCOMPARE(chart->chart().buckets.size(), 120);
        // A date chosen again shows whole days.
        child<QDateEdit>(echo(), "fromDate")->setDate(QDate(2026, 12, 1));
        QCOMPARE(echo()->history()->model()->total(), qint64(4));
    }

    void historyIsATableOfEveryRowInTheRange() {
        // More rows than a page, with more text than the old echo text held; rows of one second
        // straddle the pages' borders.
        QList<LogEvent> events;
        for (int i = 0; i < 1200; ++i) {
            events.append({QDateTime(QDate(2026, 12, 1), QTime(0, 0))
                               .addSecs(i / 3 * 60)
                               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                           i % 2 ? QStringLiteral("hs.den") : QStringLiteral("zel.hall"),
                           QStringLiteral("Log"),
                           QStringLiteral("event %1 ").arg(i) + QString(40, u'x')});
        }
        events.append(ev("2026-11-20 10:00:00", "old", "Log", "too old"));
        events.append(ev("2026-12-06 10:00:00", "later", "Log", "after today"));
        send(events);
        const QStringList live = echo()->liveLines();

        echo()->showHistory();
        HistoryModel* model = echo()->history()->model();
        auto* table = child<QTableView>(echo(), "historyTable");
        QCOMPARE(model->total(), qint64(1200));
        while (model->canFetchMore({})) {
            model->fetchMore({});
        }
        QCOMPARE(model->rowCount(), 1200);
        for (int r = 0; r < 1200; ++r) {
            QCOMPARE(model->row(r).event, events[1199 - r]);  // newest first, none missing
        }

        // A live event never enters the history; the live view keeps it.
        const LogEvent arriving = ev("2026-12-05 08:01:00", "live", "Log", "arrives");
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
        QCOMPARE(model->row(600).event.source, QStringLiteral("old"));
        QCOMPARE(model->row(601).event.source, QStringLiteral("live"));
        QCOMPARE(model->row(602).event.source, QStringLiteral("later"));
        table->sortByColumn(HistoryModel::Time, Qt::AscendingOrder);
        child<QLineEdit>(echo(), "sourceFilter")->setText(QStringLiteral("DEN"));
        // "_" is a character like any other, not a wildcard.
        child<QLineEdit>(echo(), "dataFilter")->setText(QStringLiteral("event 1_9 "));
        QTRY_COMPARE(model->total(), qint64(0));
        child<QLineEdit>(echo(), "dataFilter")->setText(QStringLiteral("event 19"));
        QTRY_COMPARE(model->total(), qint64(6));  // 19, 191, 193, ... 199: odd, so from the den
        QCOMPARE(model->row(0).event, events[19]);

        // Export: every row of the range and filters, as CSV; stopped, it leaves no file.
        const QString csv = m_place->dir.path() + QStringLiteral("/out.csv");
        const Result<qint64> exported = echo()->history()->exportTo(csv);
        QVERIFY(exported);
        QCOMPARE(exported.value(), qint64(6));
        const QList<QByteArray> lines = readFile(csv).split('\n');
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[0], QByteArray("ID,Time,Source,Type,Data\r"));
        QVERIFY(lines[1].contains("2026-12-01 00:06:00,hs.den,Log,event 19 "));
        const QString stopped = m_place->dir.path() + QStringLiteral("/stopped.csv");
        QVERIFY(!echo()->history()->exportTo(stopped, [](qint64) { return false; }));
        QVERIFY(!QFileInfo::exists(stopped));

        // Copy: the selected rows as text, one line each.
        table->selectRow(0);
        table->selectionModel()->select(model->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        child<QPushButton>(echo(), "copyButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("2026-12-01 00:06:00\ths.den\tLog\tevent 19 ") +
                     QString(40, u'x') +
                     QStringLiteral("\n2026-12-01 01:03:00\ths.den\tLog\tevent 191 ") +
                     QString(40, u'x') + QStringLiteral("\n"));
    }

    void historyProblemsAreSaidInTheWindow() {
        send({ev("2026-12-05 08:00:00", "hs.den", "Log", "it's open")});
        echo()->showHistory();
        child<QLineEdit>(echo(), "dataFilter")->setText(QStringLiteral("it's"));
        QTRY_COMPARE(echo()->history()->model()->total(), qint64(1));
        auto* problem = child<QLabel>(echo(), "historyProblem");
        QVERIFY(!problem->isVisibleTo(echo()));

        // A database that cannot be read is said on the page, not only reported on the network.
        m_desktop->showSetupDialog();
        SetupDialog* setup = m_desktop->setupDialog();
        child<QRadioButton>(setup, "postgresqlOption")->click();
        child<QLineEdit>(setup, "sqlSourceField")
            ->setText(QStringLiteral("127.0.0.1,1; User ID=x"));
        child<QLineEdit>(setup, "databaseField")->setText(QStringLiteral("HomeLog"));
        QSignalSpy reloaded(m_logger.get(), &Logger::settingsReloaded);
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(reloaded.wait());
        child<QPushButton>(echo(), "refreshHistory")->click();
        QVERIFY(problem->isVisibleTo(echo()));
        QVERIFY2(problem->text().startsWith(QStringLiteral("The history could not be read")),
                 qPrintable(problem->text()));
        QCOMPARE(echo()->history()->model()->rowCount(), 0);
    }

    void closingHidesAndSavesSizeAndFilters() {
        echo()->show();
        echo()->resize(640, 300);
        child<QLineEdit>(echo(), "sourceFilter")->setText(QStringLiteral("zel"));
        echo()->addEvents({ev("2026-12-04 10:00:00", "zel.a", "Log", "kept")});
        QVERIFY(!echo()->close());
        QVERIFY(!echo()->isVisible());
        QVERIFY(echo()->liveLines().last().endsWith(QStringLiteral("kept")));

        EchoWindow again(*m_logger);
        again.restore();
        QCOMPARE(again.size(), QSize(640, 300));
        QCOMPARE(child<QLineEdit>(&again, "sourceFilter")->text(), QStringLiteral("zel"));

        // A size that is no number gives the window its smallest size.
        writeSetting(QStringLiteral("WindowHeight"), QStringLiteral("tall"));
        m_logger->reloadSettings();
        EchoWindow small(*m_logger);
        small.restore();
        QCOMPARE(small.height(), small.minimumSizeHint().height());
    }

    void setupDialogShowsSettingsInEffectAndSwitchesDatabase() {
        // A settings file changed behind the logger's back is not what the logger uses.
        writeSetting(QStringLiteral("Database"), QStringLiteral("Data/elsewhere.mdb"));
        m_desktop->onMenuChosen(TrayIcon::Setup);
        SetupDialog* setup = m_desktop->setupDialog();
        QVERIFY(setup != nullptr && setup->isVisible());
        QCOMPARE(child<QLineEdit>(setup, "databaseField")->text(), defaultDatabase());

        const QString chosen = m_place->dir.path() + QStringLiteral("/Data/Xap/Quilljot.mdb");
        child<QLineEdit>(setup, "databaseField")->setText(chosen);
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(!setup->isVisible());
        QCOMPARE(setting(QStringLiteral("Database")), chosen);
        QCOMPARE(m_logger->settings().database.database, chosen);
        QTRY_VERIFY(QFileInfo::exists(chosen));
        QTRY_VERIFY(m_logger->databaseOpen());

        // Opened again, it shows the choice now in effect, not what was typed and cancelled.
        m_desktop->showSetupDialog();
        child<QLineEdit>(setup, "databaseField")->setText(QStringLiteral("typed, never saved"));
        child<QPushButton>(setup, "cancelButton")->click();
        m_desktop->showSetupDialog();
        QVERIFY(setup->isVisible());
        QCOMPARE(child<QLineEdit>(setup, "databaseField")->text(), chosen);

        // The password is masked in the field, and kept when the field is left as it is.
        const QString source = QStringLiteral("127.0.0.1,1; User ID=sa; Password=S3cret");
        child<QLineEdit>(setup, "sqlSourceField")->setText(source);
        child<QPushButton>(setup, "saveButton")->click();
        m_desktop->showSetupDialog();
        QVERIFY(
            !child<QLineEdit>(setup, "sqlSourceField")->text().contains(QStringLiteral("S3cret")));
        child<QPushButton>(setup, "saveButton")->click();
        QCOMPARE(setting(QStringLiteral("SQLSource")), source);
    }

    // A wrong value is named with its key's sentence on the MQTT part; saved, the bridge starts
    // with the new settings, and the password is never shown and kept by its mask.
    void setupDialogChecksAndSavesTheMqttPart() {
        m_desktop->showSetupDialog();
        SetupDialog* setup = m_desktop->setupDialog();
        auto* port = child<QLineEdit>(setup, "mqttPortField");
        auto* password = child<QLineEdit>(setup, "mqttPasswordField");
        QVERIFY(!child<QLineEdit>(setup, "mqttCommandClassesField")->isEnabled());

        child<QTabWidget>(setup, "setupTabs")->setCurrentIndex(0);
        child<QLineEdit>(setup, "mqttHostField")->setText(QStringLiteral("127.0.0.1"));
        port->setText(QStringLiteral("70000"));
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(setup->isVisible());
        QCOMPARE(child<QTabWidget>(setup, "setupTabs")->currentIndex(), 1);
        QCOMPARE(child<QLabel>(setup, "setupMessage")->text(),
                 QStringLiteral("Port must be a TCP port from 0 (off) to 65535, not '70000'."));
        QVERIFY(!m_logger->settings().mqtt.enabled());

        // A loopback port nothing listens on.
        const QString broker = QStringLiteral("127.0.0.1:") + QString::number(freeTcpPort());
        port->setText(broker.section(u':', 1));
        password->setText(QStringLiteral("s3cret"));
        child<QCheckBox>(setup, "mqttCommandsOption")->click();
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(!setup->isVisible());
        QTRY_COMPARE(m_logger->status().mqttBroker, broker);
        const IniFile ini = IniFile::load(settingsPath()).value();
        QCOMPARE(ini.read(QStringLiteral("Mqtt"), QStringLiteral("Password"), {}),
                 QStringLiteral("s3cret"));
        QCOMPARE(ini.read(QStringLiteral("Mqtt"), QStringLiteral("Commands"), {}),
                 QStringLiteral("True"));

        m_desktop->showSetupDialog();
        QVERIFY(!password->text().isEmpty() && password->text() != QStringLiteral("s3cret"));
        QVERIFY(child<QLineEdit>(setup, "mqttCommandClassesField")->isEnabled());
        child<QPushButton>(setup, "saveButton")->click();
        QCOMPARE(m_logger->settings().mqtt.password, QStringLiteral("s3cret"));
    }

    void setupFieldsFollowTheKindAndTestWithoutSaving() {
        send({ev("2026-12-05 08:00:00", "zel.hs.pc", "Log", "one"),
              ev("2026-12-05 08:00:01", "zel.hs.pc", "Log", "two")});
        const QByteArray before = readFile(settingsPath());
        m_desktop->showSetupDialog();
        SetupDialog* setup = m_desktop->setupDialog();
        auto* database = child<QLineEdit>(setup, "databaseField");
        auto* source = child<QLineEdit>(setup, "sqlSourceField");
        auto* message = child<QLabel>(setup, "setupMessage");
        QVERIFY(!source->isEnabled());
        QVERIFY(child<QPushButton>(setup, "browseButton")->isVisibleTo(setup));

        child<QPushButton>(setup, "testConnectionButton")->click();
        QVERIFY2(message->text().contains(QStringLiteral("2 rows")), qPrintable(message->text()));

        // A server's database is a name, never the file path shown for the file database.
        child<QRadioButton>(setup, "sqlServerOption")->click();
        QVERIFY(source->isEnabled());
        QVERIFY(!child<QPushButton>(setup, "browseButton")->isVisibleTo(setup));
        QCOMPARE(database->text(), QString());
        source->setText(QStringLiteral("127.0.0.1,1"));
        database->setText(QStringLiteral("/srv/HomeLog.mdb"));
        child<QPushButton>(setup, "saveButton")->click();
        QVERIFY(setup->isVisible());
        QVERIFY2(message->text().contains(QStringLiteral("plain database name")),
                 qPrintable(message->text()));
        child<QRadioButton>(setup, "postgresqlOption")->click();
        QCOMPARE(database->text(), QStringLiteral("/srv/HomeLog.mdb"));
        child<QRadioButton>(setup, "fileDatabaseOption")->click();
        QCOMPARE(database->text(), defaultDatabase());

        // A file database that cannot be opened says so in the dialog.
        QVERIFY(QDir().mkpath(m_place->dir.path() + QStringLiteral("/folder.mdb")));
        database->setText(m_place->dir.path() + QStringLiteral("/folder.mdb"));
        child<QPushButton>(setup, "testConnectionButton")->click();
        QVERIFY2(message->text().contains(QStringLiteral("folder")), qPrintable(message->text()));
        // Escape, as Cancel, saves nothing and leaves the database in use.
        QTest::keyClick(setup, Qt::Key_Escape);
        QVERIFY(!setup->isVisible());
        QCOMPARE(readFile(settingsPath()), before);
        QCOMPARE(m_logger->settings().database.database, defaultDatabase());
    }

    void menuActions() {
        QMenu* menu = m_desktop->tray()->menu();
        QSignalSpy exit(m_desktop.get(), &DesktopFrontend::exitRequested);
        // System Config opens the settings folder (here in the test's stand-in file manager).
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openedUrl");
        child<QAction>(menu, "menuSystemConfig")->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(m_openedUrls,
                 QList<QUrl>{QUrl::fromLocalFile(QFileInfo(settingsPath()).absolutePath())});

        send({ev("2026-12-05 08:00:00", "zel.hs.pc", "Log", "one")});
        child<QAction>(menu, "menuSystemStatus")->trigger();
        StatusWindow* status = m_desktop->statusWindow();
        QVERIFY(status != nullptr && status->isVisible());
        QVERIFY2(
            status->lineText(QStringLiteral("node"))
                .contains(QStringLiteral("127.0.0.1:") + QString::number(m_logger->node()->port())),
            qPrintable(status->lineText(QStringLiteral("node"))));
        QTRY_VERIFY2(
            status->lineText(QStringLiteral("events")).contains(QStringLiteral("1 events written")),
            qPrintable(status->lineText(QStringLiteral("events"))));
        QVERIFY2(status->lineText(QStringLiteral("reports")).endsWith(QStringLiteral(" sent")) &&
                     status->lineText(QStringLiteral("reports")) != QStringLiteral("0 sent"),
                 qPrintable(status->lineText(QStringLiteral("reports"))));
        QVERIFY(status->lineText(QStringLiteral("hub")).startsWith(QStringLiteral("heard")));
        QVERIFY(child<QPlainTextEdit>(status, "statusReports")
                    ->toPlainText()
                    .contains(QStringLiteral("Using xAP port")));
        QVERIFY(status->lineText(QStringLiteral("database"))
                    .contains(defaultDatabase() + QStringLiteral(", table tblQuilljot (open)")));

        child<QAction>(menu, "menuHelp")->trigger();
        QVERIFY(m_desktop->helpBox() != nullptr && m_desktop->helpBox()->isVisible());
        const QString help = child<QLabel>(m_desktop->helpBox(), "helpText")->text();
        QVERIFY(help.contains(QStringLiteral("Quilljot ") + QStringLiteral(QUILLJOT_VERSION)));
        QVERIFY(help.contains(QStringLiteral("Settings: ") + settingsPath()));
        QVERIFY(help.contains(m_place->dir.path() +
                              QStringLiteral("/Data/xapzelQuilljot/xapzelQuilljot.txt")));
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

    void statusWindowListsTheSourcesThatWentQuiet() {
        const auto heard = [this](int seconds, const QStringList& sources) {
            m_seconds = seconds;
            QList<LogEvent> events;
            for (const QString& source : sources) {
                events.append({QStringLiteral("2026-12-05 08:00:00"), source, QStringLiteral("Log"),
                               QStringLiteral("x")});
            }
            send(events);
        };
        const QString door = QStringLiteral("acme.door.front");
        const QString thermostat = QStringLiteral("acme.thermo.hall");
        // Both every minute; the thermostat once more after a long pause (that one long gap
        // does not make its usual spacing long); a third source heard once has no usual spacing.
        for (int minute = 0; minute < 4; ++minute) {
            heard(minute * 60, {door, thermostat});
        }
        heard(30, {QStringLiteral("acme.once.only")});
        m_desktop->showStatusWindow();
        StatusWindow* status = m_desktop->statusWindow();
        // Ten minutes is the least silence that counts, whatever the usual spacing.
        m_seconds = 3 * 60 + 10 * 60;
        status->refresh();
        QVERIFY2(status->lineText(QStringLiteral("quiet")).startsWith(QStringLiteral("none")),
                 qPrintable(status->lineText(QStringLiteral("quiet"))));
        heard(25 * 60, {thermostat});
        m_seconds = 30 * 60;
        status->refresh();
        QCOMPARE(status->lineText(QStringLiteral("quiet")),
                 QStringLiteral("acme.door.front: last heard 2026-12-05 08:33:00 (usually every "
                                "60 s)"));
    }

    // Minutes of the logger's clock (08:30 now): the last one is the current minute, the first
    // the one 24 hours before the next; a click on a bar opens the history of its minute.
    void statusWindowChartsTheLastDayByMinute() {
        const auto at = [](const char* time) { return ev(time, "acme.door.front", "Log", "x"); };
        send({at("2026-12-04 08:30:59"), at("2026-12-04 08:31:00"), at("2026-12-05 08:10:05"),
              at("2026-12-05 08:10:40"), at("2026-12-05 08:10:59"), at("2026-12-05 08:31:00")});
        m_desktop->showStatusWindow();
        StatusWindow* status = m_desktop->statusWindow();
        status->resize(1700, 600);
        const ActivityChartView* chart = status->chart();
        // The logger counts the last day from the database at start, on a thread of its own.
        QTRY_VERIFY(chart->isVisible());
        const QList<ActivityBucket>& buckets = chart->chart().buckets;
        QCOMPARE(buckets.size(), 24 * 60);
        QCOMPARE(buckets.first().start, QStringLiteral("2026-12-04 08:31:00"));
        QCOMPARE(buckets.last().start, QStringLiteral("2026-12-05 08:30:00"));
        const int door = 23 * 60 + 39;  // 08:10
        QCOMPARE(buckets[door].start, QStringLiteral("2026-12-05 08:10:00"));
        QList<int> charted;
        for (int i = 0; i + 1 < buckets.size(); ++i) {
            if (buckets[i].count > 0) {
                charted.append(i);
                QVERIFY(!chart->barRect(i).isEmpty());
            }
        }
        QCOMPARE(charted, (QList<int>{0, door}));
        QCOMPARE(buckets[door].count, 3);
        QCOMPARE(chart->barRect(door).height(), 3 * chart->barRect(0).height());

        QTest::mouseClick(status->chart(), Qt::LeftButton, {},
                          chart->barRect(door).center().toPoint());
        QVERIFY(echo()->isVisible());
        QTRY_COMPARE(echo()->history()->model()->rowCount(), 3);

        // A database that cannot be read is said in a line where the chart was.
        DatabaseSettings away = m_logger->status().database;
        QVERIFY(writeFile(m_place->dir.path() + QStringLiteral("/plain"), "x"));
        away.database = m_place->dir.path() + QStringLiteral("/plain/x.mdb");
        QVERIFY(m_logger->applyDatabaseSettings(away));
        QTRY_COMPARE(m_logger->status().database.database, away.database);
        // Counted again from the new database, which cannot be read.
        QTRY_VERIFY((status->refreshChart(),
                     child<QLabel>(status, "chartStatus")->text().contains(away.database)));
        QVERIFY(!chart->isVisible());
        const QString said = child<QLabel>(status, "chartStatus")->text();
        QVERIFY2(said.startsWith(QStringLiteral("The chart could not be read: ")),
                 qPrintable(said));
    }

    void shutdownClosesTheWindowForGood() {
        QVERIFY(m_desktop->tray()->iconShown());
        echo()->show();
        m_desktop->showSetupDialog();
        child<QLineEdit>(echo(), "dataFilter")->setText(QStringLiteral("door"));
        QPointer<EchoWindow> window = echo();
        m_logger->stop();
        QVERIFY(window.isNull());
        QVERIFY(!m_desktop->setupDialog()->isVisible());
        QVERIFY(!m_desktop->tray()->iconShown());
        QCOMPARE(setting(QStringLiteral("DataFilter")), QStringLiteral("door"));
        QVERIFY(m_logger->stopped());
    }
};

QTEST_MAIN(UiTest)
#include "tst_ui.moc"
