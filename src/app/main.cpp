// quilljot: the xAP event logger. A tray application on a desktop, or headless on a server.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/CommandLine.h"
#include "app/ExportCommand.h"
#include "app/WebCommands.h"
#include "logger/ConfigCheck.h"
#include "logger/EchoFormat.h"
#include "logger/Frontend.h"
#include "logger/Logger.h"
#include "store/Store.h"
#include "support/ProcessSignals.h"
#include "support/ServiceNotify.h"
#include "web/WebServer.h"
#ifdef QUILLJOT_GUI
#include <QApplication>
#include <QSystemTrayIcon>

#include "ui/DesktopFrontend.h"
#include "ui/TrayIcon.h"
#else
// A build without windows: every start is headless.
class DesktopFrontend;
#endif

namespace {

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// One line at exit that accounts for every datagram taken in: received = written + spooled +
// rejected + messages written + messages spooled + other + kept + dropped; and beside them what
// the system dropped before the logger could receive it.
void printRunTally(const Logger::RunTally& t) {
    auto n = [](quint64 v) { return static_cast<unsigned long long>(v); };
    std::fprintf(stderr,
                 "quilljot: stopped: %llu datagrams received, %llu rows written, %llu spooled, "
                 "%llu rejected, %llu messages written, %llu messages spooled, %llu other "
                 "messages, %llu kept for the next start, %llu dropped; %llu dropped by the "
                 "system before they were received\n",
                 n(t.received), n(t.written), n(t.spooled), n(t.rejected), n(t.messagesWritten),
                 n(t.messagesSpooled), n(t.other), n(t.waiting), n(t.dropped),
                 n(t.droppedBeforeReceive));
    if (t.earlierWritten > 0) {
        std::fprintf(stderr, "quilljot: %llu rows of an earlier run's spool written\n",
                     n(t.earlierWritten));
    }
    if (t.mqtt) {
        std::fprintf(stderr,
                     "quilljot: MQTT: %llu messages published, %llu waiting in the MQTT spool, "
                     "%llu sent again after a reconnect, %llu dropped; %llu commands sent, %llu "
                     "refused\n",
                     n(t.mqttPublished), n(t.mqttWaiting), n(t.mqttRepublished), n(t.mqttDropped),
                     n(t.mqttCommandsSent), n(t.mqttCommandsRefused));
    }
}

// The start-up line's part on the database: which one, its table, whether it opened.
QString databaseInUse(const Logger& logger) {
    // The recorder opens the database on its own thread: the line says how that went, when it
    // is known within a few seconds.
    QDeadlineTimer patience(3000);
    while (!logger.databaseTried() && !patience.hasExpired()) {
        QThread::msleep(10);
    }
    const DatabaseSettings& d = logger.settings().database;
    if (d.database.isEmpty()) {
        return QStringLiteral("no database (see above)");
    }
    return QStringLiteral("database ") + Store::describe(d) + QStringLiteral(", table ") + d.table +
           (logger.databaseOpen()    ? QString()
            : logger.databaseTried() ? QStringLiteral(" (not open)")
                                     : QStringLiteral(" (still opening)"));
}

// Reads and checks the settings, changing nothing; status 0 when they can be used.
int checkConfig(const CommandLine& a) {
    const StartupPlace place = StartupPlace::ofThisProcess(a.appDir);
    const ConfigCheck check = ConfigCheck::run(place, a.xapPort);
    std::printf("%s", check.text().toUtf8().constData());
    // A page the running logger serves holds its port: that is no problem of the settings.
    if (const QString served = check.running(QStringLiteral("web page")); !served.isEmpty()) {
        std::printf("web page: %s, served by the running logger\n", qPrintable(served));
        return check.problems().isEmpty() ? 0 : 1;
    }
    const WebCommands::CheckedPage web = WebCommands::check(AppFolders::locate(place), a.webPort);
    std::printf("web page: %s%s\n", web.usable ? "" : "problem: ", web.text.toUtf8().constData());
    return check.problems().isEmpty() && web.usable ? 0 : 1;
}

int run(QCoreApplication& app, Frontend& frontend, DesktopFrontend* desktop, const CommandLine& a) {
    Logger::Options options;
    options.place = StartupPlace::ofThisProcess(a.appDir);
    options.xapPort = a.xapPort;
    if (a.headless) {
        // A service's standard error is its journal: reports go there too.
        options.journal = TextLog::standardError();
    }
    Logger logger(frontend, std::move(options));
    // Watched before the node announces itself: a stop asked for while the start is still under
    // way waits for the event loop and then says goodbye to the hub, instead of killing the
    // process unannounced.
    auto shutdown = [&logger] {
        logger.stop();
        QCoreApplication::quit();
    };
    ProcessSignals signalWatch({SIGINT, SIGTERM, SIGHUP}, [&](int number) {
        if (number == SIGHUP) {
            std::fprintf(stderr,
                         "quilljot: SIGHUP: reading the settings and reopening the "
                         "database\n");
            logger.reloadSettings();
        } else {
            shutdown();
        }
    });
#ifdef QUILLJOT_GUI
    if (desktop != nullptr) {
        desktop->attach(logger);
    }
#endif
    if (a.echo) {
        QObject::connect(&logger, &Logger::eventsLogged, &app, [](const QList<LogEvent>& events) {
            for (const LogEvent& event : events) {
                std::printf("%s\n", EchoFormat::line(event).toUtf8().constData());
            }
            std::fflush(stdout);
        });
    }
    if (const Status started = logger.start(); !started) {
        std::fprintf(stderr, "quilljot: %s\n", started.problem().description.toUtf8().constData());
        return 1;
    }
    std::fprintf(stderr,
                 "quilljot: listening on 127.0.0.1:%d, sending to %s:%u from %s, %s, data in %s\n",
                 logger.node()->port(), qPrintable(logger.node()->destination()),
                 logger.node()->remotePort(), qPrintable(logger.node()->localIp()),
                 qPrintable(databaseInUse(logger)), qPrintable(logger.folders().appPath()));
    const std::unique_ptr<WebServer> web = WebCommands::start(logger, a.webPort);
    if (web) {
        logger.noteForChecks(QStringLiteral("web page"), web->url());
    }
    // Under a service manager the start is done: the node listens and has announced itself.
    ServiceNotify::send("READY=1");
#ifdef QUILLJOT_GUI
    if (desktop != nullptr) {
        QObject::connect(desktop, &DesktopFrontend::exitRequested, &app, shutdown);
        if (a.show == u"setup") {
            desktop->showSetupDialog();
        } else if (a.show == u"echo" || a.show == u"history") {
            desktop->showEchoWindow();
            if (a.show == u"history") {
                desktop->echoWindow()->showHistory();
            }
        }
    }
#else
    (void)desktop;
#endif
    const int status = app.exec();
    logger.stop();
    printRunTally(logger.runTally());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("quilljot"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLJOT_VERSION));
    if (argc > 1 && qstrcmp(argv[1], "export") == 0) {
        QCoreApplication app(argc, argv);
        return ExportCommand::run(QCoreApplication::arguments().mid(2));
    }

    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    Result<CommandLine> read = CommandLine::read(arguments);
    if (!read) {
        std::fprintf(stderr, "quilljot: %s\n", read.problem().description.toUtf8().constData());
        return 2;
    }
    CommandLine& a = read.value();
    switch (a.action) {
        case CommandLine::Action::Help:
            std::printf("%s", a.helpText.toUtf8().constData());
            return 0;
        case CommandLine::Action::Version:
            std::printf("quilljot %s\n", QUILLJOT_VERSION);
            return 0;
        case CommandLine::Action::CheckConfig: {
            QCoreApplication app(argc, argv);  // the SQL drivers need one
            return checkConfig(a);
        }
        case CommandLine::Action::SetWebPassword: {
            QCoreApplication app(argc, argv);
            // The logger's own folders, also those of an installed program (XDG_DATA_HOME).
            return WebCommands::setPassword(StartupPlace::ofThisProcess(a.appDir));
        }
        case CommandLine::Action::MakeWebCertificate: {
            QCoreApplication app(argc, argv);
            return WebCommands::makeCertificate(StartupPlace::ofThisProcess(a.appDir));
        }
        case CommandLine::Action::Run:
            break;
    }
    if (!a.headless && !hasDisplay()) {
        std::fprintf(stderr, "quilljot: no display found; running headless\n");
        a.headless = true;
    }

#ifndef QUILLJOT_GUI
    a.headless = true;
#endif
    if (a.headless) {
        QCoreApplication app(argc, argv);
        Frontend none;
        return run(app, none, nullptr, a);
    }
#ifdef QUILLJOT_GUI
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fprintf(stderr,
                     "quilljot: this desktop shows no tray icons; use the echo window "
                     "through --echo or run --headless\n");
    }
    DesktopFrontend desktop;
    return run(app, desktop, &desktop, a);
#endif
}
