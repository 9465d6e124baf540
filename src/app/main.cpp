// quilljot: the xAP event logger. A tray application on a desktop, or headless on a server.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/WebCommands.h"
#include "logger/EchoFormat.h"
#include "logger/Frontend.h"
#include "logger/Logger.h"
#include "support/ProcessSignals.h"
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

struct Arguments {
    QString appDir;
    bool headless = false;
    bool echo = false;
    quint16 xapPort = XapNode::kXapPort;
    QString show;
    std::optional<quint16> webPort;
};

void defineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Quilljot logs the events of an xAP home-automation network into a database.\n"
        "Settings live in DIR/Config, the database and the text log in DIR/Data; DIR is "
        "--app-dir, else $QUILLJOT_HOME, else the program's folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("app-dir"), QStringLiteral("Application folder (holds Config and Data)."),
         QStringLiteral("dir")},
        {QStringLiteral("headless"), QStringLiteral("Run without tray icon and windows.")},
        {QStringLiteral("echo"), QStringLiteral("Print each logged event to standard output.")},
        {QStringLiteral("show"),
         QStringLiteral("Open a window at start: echo, history or setup (for desktops that "
                        "show no tray icons)."),
         QStringLiteral("window")},
        {QStringLiteral("xap-port"),
         QStringLiteral("Send to this UDP port instead of the xAP port 3639."),
         QStringLiteral("port")},
        {QStringLiteral("web"),
         QStringLiteral("Serve the web page on this TCP port (see WebPort)."),
         QStringLiteral("port")},
        {QStringLiteral("set-web-password"),
         QStringLiteral("Set the web page's password (read from standard input) and exit.")},
    });
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// One line at exit that accounts for every datagram taken in: received = written + spooled +
// rejected + other + dropped.
void printRunTally(const Logger::RunTally& t) {
    auto n = [](quint64 v) { return static_cast<unsigned long long>(v); };
    std::fprintf(stderr,
                 "quilljot: stopped: %llu datagrams received, %llu rows written, %llu spooled, "
                 "%llu rejected, %llu other messages, %llu dropped\n",
                 n(t.received), n(t.written), n(t.spooled), n(t.rejected), n(t.other),
                 n(t.dropped));
    if (t.earlierWritten > 0) {
        std::fprintf(stderr, "quilljot: %llu rows of an earlier run's spool written\n",
                     n(t.earlierWritten));
    }
}

int run(QCoreApplication& app, Frontend& frontend, DesktopFrontend* desktop, const Arguments& a) {
    Logger::Options options;
    options.place.appDir = a.appDir;
    options.place.homeEnv = qEnvironmentVariable("QUILLJOT_HOME");
    options.place.programFile = QCoreApplication::applicationFilePath();
    options.xapPort = a.xapPort;
    options.stopRequested = &ProcessSignals::stopRequested;
    Logger logger(frontend, std::move(options));
#ifdef QUILLJOT_GUI
    if (desktop != nullptr) {
        desktop->attach(logger);
    }
#endif
    if (a.echo) {
        QObject::connect(&logger, &Logger::eventLogged, &app, [](const LogEvent& event) {
            std::printf("%s\n", EchoFormat::line(event).toUtf8().constData());
            std::fflush(stdout);
        });
    }
    if (!logger.start()) {
        std::fprintf(stderr,
                     "quilljot: the xAP node could not start (result %d): no free loopback port "
                     "from 32768, or the host address could not be bound. See %s\n",
                     logger.bindResult(), qPrintable(logger.folders().textLogPath()));
        return 1;
    }
    std::fprintf(stderr, "quilljot: listening on 127.0.0.1:%d, sending to %s:%u, data in %s\n",
                 logger.node()->port(), qPrintable(logger.node()->destination()),
                 logger.node()->remotePort(), qPrintable(logger.folders().appPath()));
    const std::unique_ptr<WebServer> web = WebCommands::start(logger, a.webPort);
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
        QObject::connect(desktop, &DesktopFrontend::exitRequested, &app, shutdown);
        if (a.show == u"setup") {
            desktop->showSetupDialog();
        } else if (a.show == u"echo" || a.show == u"history") {
            desktop->showEchoWindow();
            if (a.show == u"history") {
                desktop->echoWindow()->toggleHistory();
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

    QStringList argList;
    for (int i = 0; i < argc; ++i) {
        argList.append(QString::fromLocal8Bit(argv[i]));
    }
    QCommandLineParser parser;
    defineOptions(parser);
    if (!parser.parse(argList)) {
        std::fprintf(stderr, "quilljot: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("quilljot %s\n", QUILLJOT_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "quilljot: unexpected argument '%s' (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    Arguments a;
    a.appDir = parser.value(QStringLiteral("app-dir"));
    if (parser.isSet(QStringLiteral("app-dir")) && !QFileInfo(a.appDir).isDir() &&
        QFileInfo::exists(a.appDir)) {
        std::fprintf(stderr, "quilljot: --app-dir %s is a file, not a folder\n",
                     qPrintable(a.appDir));
        return 2;
    }
    if (parser.isSet(QStringLiteral("set-web-password"))) {
        QCoreApplication app(argc, argv);
        return WebCommands::setPassword({a.appDir,
                                         qEnvironmentVariable("QUILLJOT_HOME"),
                                         QCoreApplication::applicationFilePath(),
                                         {}});
    }
    if (parser.isSet(QStringLiteral("web"))) {
        a.webPort = WebCommands::parsePort(parser.value(QStringLiteral("web")));
        if (!a.webPort) {
            std::fprintf(stderr, "quilljot: --web needs a TCP port from 1 to 65535\n");
            return 2;
        }
    }
    a.headless = parser.isSet(QStringLiteral("headless"));
    a.show = parser.value(QStringLiteral("show"));
    if (!a.show.isEmpty() && a.show != u"echo" && a.show != u"history" && a.show != u"setup") {
        std::fprintf(stderr, "quilljot: --show takes echo, history or setup, not '%s'\n",
                     qPrintable(a.show));
        return 2;
    }
    a.echo = parser.isSet(QStringLiteral("echo"));
    if (parser.isSet(QStringLiteral("xap-port"))) {
        bool ok = false;
        const uint port = parser.value(QStringLiteral("xap-port")).toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            std::fprintf(stderr, "quilljot: --xap-port needs a number from 1 to 65535, not '%s'\n",
                         qPrintable(parser.value(QStringLiteral("xap-port"))));
            return 2;
        }
        a.xapPort = quint16(port);
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
