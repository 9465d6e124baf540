// Draws the desktop windows of a running logger into PNG files, for the README and for looking
// at them as a user would: the live view, the history table, the setup dialog for the file
// database and for a server, the status window and the help box.
//
//   window-pictures --app-dir DIR --xap-port N --out DIR --events N
//
// The logger joins through the hub at 127.0.0.1:N like the real program; the pictures are taken
// once N events have been logged (sent by the caller through the hub), or after 20 s.
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

#include "logger/Logger.h"
#include "ui/DesktopFrontend.h"
#include "ui/HelpBox.h"
#include "ui/HistoryView.h"
#include "ui/StatusWindow.h"

namespace {

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool save(QWidget* w, const QString& folder, const QString& name) {
    w->show();
    w->raise();
    settle(400);
    const bool ok = w->grab().save(folder + u'/' + name + QStringLiteral(".png"));
    std::printf("%s %s.png\n", ok ? "wrote" : "could not write", qPrintable(name));
    return ok;
}

// Three events of a controller sent through the hub, as a sender on the network would.
void sendControllerEvents(const Logger& logger, quint16 hubPort) {
    QUdpSocket controller;
    for (const char* data : {"Back door opened", "Back door closed", "Porch light: On"}) {
        const QString text = QStringLiteral(
                                 "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\n"
                                 "source=hs.controller.den\n}\nEvent.Log\n{\nTime=%1\nType=Log\n"
                                 "Data=%2\n}\n")
                                 .arg(logger.now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                      QString::fromLatin1(data));
        controller.writeDatagram(text.toUtf8(), QHostAddress(QHostAddress::LocalHost), hubPort);
    }
}

// The echo window live, frozen and filtered, and on its history tab.
bool pictureEchoWindow(DesktopFrontend& desktop, const Logger& logger, quint16 hubPort,
                       const QString& out) {
    bool ok = true;
    desktop.showEchoWindow();
    EchoWindow* echo = desktop.echoWindow();
    echo->resize(1000, 520);
    ok &= save(echo, out, QStringLiteral("echo-live"));
    echo->findChild<QCheckBox*>(QStringLiteral("freezeBox"))->setChecked(true);
    echo->findChild<QLineEdit*>(QStringLiteral("sourceFilter"))->setText(QStringLiteral("den"));
    // Events that arrive while frozen are held, and the window counts them.
    sendControllerEvents(logger, hubPort);
    settle(800);
    ok &= save(echo, out, QStringLiteral("echo-live-frozen"));
    echo->findChild<QCheckBox*>(QStringLiteral("freezeBox"))->setChecked(false);
    echo->findChild<QLineEdit*>(QStringLiteral("sourceFilter"))->clear();
    echo->showHistory();
    settle(600);
    echo->history()->findChild<QTableView*>(QStringLiteral("historyTable"))->selectRow(2);
    ok &= save(echo, out, QStringLiteral("echo-history"));
    echo->hide();
    return ok;
}

// The setup dialog for the file database, for a server, and on its MQTT tab.
bool pictureSetupDialog(DesktopFrontend& desktop, const QString& out) {
    bool ok = true;
    desktop.showSetupDialog();
    SetupDialog* setup = desktop.setupDialog();
    setup->findChild<QPushButton*>(QStringLiteral("testConnectionButton"))->click();
    ok &= save(setup, out, QStringLiteral("setup-file"));
    setup->findChild<QRadioButton*>(QStringLiteral("sqlServerOption"))->click();
    setup->findChild<QLineEdit*>(QStringLiteral("sqlSourceField"))
        ->setText(QStringLiteral("sqlhost,1433; User ID=logger; Password=secret"));
    setup->findChild<QLineEdit*>(QStringLiteral("databaseField"))
        ->setText(QStringLiteral("HomeLog"));
    ok &= save(setup, out, QStringLiteral("setup-sql"));
    setup->findChild<QTabWidget*>(QStringLiteral("setupTabs"))->setCurrentIndex(1);
    setup->findChild<QLineEdit*>(QStringLiteral("mqttHostField"))
        ->setText(QStringLiteral("broker.lan"));
    setup->findChild<QLineEdit*>(QStringLiteral("mqttUsernameField"))
        ->setText(QStringLiteral("quilljot"));
    ok &= save(setup, out, QStringLiteral("setup-mqtt"));
    setup->reject();
    return ok;
}

// The status window and the help box.
bool pictureStatusAndHelp(DesktopFrontend& desktop, const QString& out) {
    bool ok = true;
    desktop.showStatusWindow();
    ok &= save(desktop.statusWindow(), out, QStringLiteral("status"));
    desktop.statusWindow()->hide();
    desktop.showHelp();
    ok &= save(desktop.helpBox(), out, QStringLiteral("help"));
    desktop.helpBox()->hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCommandLineParser parser;
    parser.addOptions(
        {{QStringLiteral("app-dir"), QStringLiteral("application folder"), QStringLiteral("DIR")},
         {QStringLiteral("xap-port"), QStringLiteral("hub port"), QStringLiteral("N")},
         {QStringLiteral("out"), QStringLiteral("picture folder"), QStringLiteral("DIR")},
         {QStringLiteral("events"), QStringLiteral("events to wait for"), QStringLiteral("N")}});
    parser.process(app);
    const QString out = parser.value(QStringLiteral("out"));
    QDir().mkpath(out);

    DesktopFrontend desktop;
    Logger::Options options;
    options.place.appDir = parser.value(QStringLiteral("app-dir"));
    options.place.programFile = QCoreApplication::applicationFilePath();
    const quint16 hubPort = quint16(parser.value(QStringLiteral("xap-port")).toUInt());
    options.xapPort = hubPort;
    Logger logger(desktop, std::move(options));
    desktop.attach(logger);
    int logged = 0;
    QObject::connect(&logger, &Logger::eventsLogged,
                     [&logged](const QList<LogEvent>& events) { logged += int(events.size()); });
    if (!logger.start()) {
        std::fprintf(stderr, "window-pictures: the logger could not start\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const int wanted = parser.value(QStringLiteral("events")).toInt();
    QElapsedTimer waited;
    waited.start();
    while (logged < wanted && waited.elapsed() < 20000) {
        settle(100);
    }
    settle(300);

    bool ok = pictureEchoWindow(desktop, logger, hubPort, out);
    ok &= pictureSetupDialog(desktop, out);
    ok &= pictureStatusAndHelp(desktop, out);
    logger.stop();
    return ok ? 0 : 1;
}
