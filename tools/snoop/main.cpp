// xap-snoop: shows, filters and captures the xAP traffic that reaches this host's hub.
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>
#include <csignal>
#include <cstdio>

#include "Snooper.h"
#include "support/ProcessSignals.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xap-snoop"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLJOT_VERSION));

    QCommandLineParser parser;
    SnoopOptions::describe(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "xap-snoop: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    const Result<SnoopOptions> options = SnoopOptions::read(parser);
    if (!options) {
        std::fprintf(stderr, "xap-snoop: %s (see --help)\n",
                     qPrintable(options.problem().description));
        return 2;
    }

    // A reader that goes away (`xap-snoop | head`) ends the snoop normally, heartbeat and all.
    std::signal(SIGPIPE, SIG_IGN);
    const bool colour = options.value().output != SnoopOptions::Output::Json &&
                        ::isatty(STDOUT_FILENO) && qEnvironmentVariableIsEmpty("NO_COLOR");
    Snooper snooper(options.value(), QStringLiteral("zel.xapsnoop.") + QHostInfo::localHostName(),
                    colour);
    snooper.print = [](const QByteArray& text) {
        return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) ==
                   size_t(text.size()) &&
               std::fflush(stdout) == 0;
    };
    snooper.say = [](const QByteArray& text) {
        std::fprintf(stderr, "xap-snoop: %s", text.constData());
    };
    snooper.finished = [](int code) { QCoreApplication::exit(code); };
    if (Status s = snooper.start(); !s) {
        std::fprintf(stderr, "xap-snoop: %s\n", qPrintable(s.problem().description));
        return 1;
    }
    ProcessSignals shutdown({SIGINT, SIGTERM}, [&snooper](int) { snooper.stop(0); });
    return app.exec();
}
