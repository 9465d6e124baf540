// quilljot: the xAP event logger. A tray application on a desktop, or headless on a server.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSystemTrayIcon>
#include <csignal>
#include <cstdio>
#include <memory>

#include "logger/EchoFormat.h"
#include "logger/Frontend.h"
#include "logger/xapQuilljot.h"
#include "support/ProcessSignals.h"
#include "ui/DesktopFrontend.h"
#include "ui/TrayIcon.h"

namespace {

struct Arguments {
    QString appDir;
    bool headless = false;
    bool echo = false;
    quint16 xapPort = XapNode::kXapPort;
    QString show;
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
    });
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// One line at exit that accounts for every message taken in: received = written + refused +
// other + dropped.
void printRunTally(const xapQuilljot::RunTally& t) {
    std::fprintf(
        stderr,
        "quilljot: stopped: %llu datagrams received, %llu rows written, %llu rows "
        "refused, %llu other messages, %llu still queued and dropped\n",
        static_cast<unsigned long long>(t.received), static_cast<unsigned long long>(t.rowsWritten),
        static_cast<unsigned long long>(t.rowsRefused), static_cast<unsigned long long>(t.other),
        static_cast<unsigned long long>(t.dropped));
}

int run(QCoreApplication& app, Frontend& frontend, DesktopFrontend* desktop, const Arguments& a) {
    xapQuilljot::Options options;
    options.place.appDir = a.appDir;
    options.place.homeEnv = qEnvironmentVariable("QUILLJOT_HOME");
    options.place.programFile = QCoreApplication::applicationFilePath();
    options.xapPort = a.xapPort;
    options.stopRequested = &ProcessSignals::stopRequested;
    xapQuilljot controller(frontend, std::move(options));
    if (desktop != nullptr) {
        desktop->attach(controller);
    }
    if (a.echo) {
        QObject::connect(&controller.logger(), &LoggerCore::echo, &app,
                         [&controller](const QString& s0, const QString& s1, const QString& s2,
                                       const QString& s3) {
                             const QString line =
                                 EchoFormat::line(s0, s1, s2, s3, controller.global().clock());
                             std::printf("%s\n", line.toUtf8().constData());
                             std::fflush(stdout);
                         });
    }
    if (!controller.Form_Load()) {
        std::fprintf(stderr,
                     "quilljot: the xAP node could not start (result %d): no free loopback port "
                     "from 32768, or the host address could not be bound. See %s\n",
                     controller.initResult(), qPrintable(controller.global().textLogPath()));
        return 1;
    }
    std::fprintf(stderr, "quilljot: listening on 127.0.0.1:%d, sending to %s:%u, data in %s\n",
                 controller.node()->lPort(), qPrintable(controller.node()->sRemoteHost()),
                 controller.node()->remotePort(), qPrintable(controller.global().AppPath));
    auto shutdown = [&controller] {
        controller.Form_unload();
        QCoreApplication::quit();
    };
    ProcessSignals signalWatch({SIGINT, SIGTERM, SIGHUP}, [&](int number) {
        if (number == SIGHUP) {
            std::fprintf(stderr,
                         "quilljot: SIGHUP: reading the settings and reopening the "
                         "database\n");
            controller.reloadSettings();
        } else {
            shutdown();
        }
    });
    if (desktop != nullptr) {
        QObject::connect(desktop, &DesktopFrontend::exitRequested, &app, shutdown);
        if (a.show == u"setup") {
            desktop->MenuArray_Click(TrayIcon::Setup);
        } else if (a.show == u"echo" || a.show == u"history") {
            desktop->MenuArray_Click(TrayIcon::Window);
            if (a.show == u"history") {
                desktop->echoWindow()->aHistory_Click();
            }
        }
    }
    const int status = app.exec();
    controller.Form_unload();
    printRunTally(controller.runTally());
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

    if (a.headless) {
        QCoreApplication app(argc, argv);
        Frontend none;
        return run(app, none, nullptr, a);
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fprintf(stderr,
                     "quilljot: this desktop shows no tray icons; use the echo window "
                     "through --echo or run --headless\n");
    }
    DesktopFrontend desktop;
    return run(app, desktop, &desktop, a);
}
