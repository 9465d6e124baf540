// xap-hub: forwards the xAP traffic of this host to its local xAP applications.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <csignal>
#include <cstdio>

#include "XapHub.h"
#include "support/ProcessSignals.h"
#include "support/ServiceNotify.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xap-hub"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLJOT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Receives xAP datagrams on the xAP port and forwards each, unchanged, to every local "
        "xAP application that announces its port in a heartbeat.\n"
        "Exit status: 0 after SIGINT/SIGTERM, 1 when the port cannot be bound, 2 for bad "
        "arguments."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {QStringLiteral("bind"),
         QStringLiteral("Address to listen on (default: all addresses). Bound to 127.0.0.1 the hub "
                        "hears only datagrams sent to 127.0.0.1: clients that send to a broadcast "
                        "address (the subnet's, or 255.255.255.255), on this host or another, are "
                        "not heard."),
         QStringLiteral("address"), QStringLiteral("0.0.0.0")});
    parser.addOption({QStringLiteral("port"), QStringLiteral("UDP port (default: 3639)."),
                      QStringLiteral("port"), QStringLiteral("3639")});
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "xap-hub: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "xap-hub: unexpected argument '%s' (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    const QHostAddress address(parser.value(QStringLiteral("bind")));
    if (address.isNull() || address.protocol() != QAbstractSocket::IPv4Protocol) {
        std::fprintf(stderr, "xap-hub: --bind needs an IPv4 address, not '%s'\n",
                     qPrintable(parser.value(QStringLiteral("bind"))));
        return 2;
    }
    bool ok = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        std::fprintf(stderr, "xap-hub: --port needs a number from 1 to 65535, not '%s'\n",
                     qPrintable(parser.value(QStringLiteral("port"))));
        return 2;
    }

    XapHub hub(address, quint16(port));
    hub.say = [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    };
    QString error;
    if (!hub.start(&error)) {
        std::fprintf(stderr, "xap-hub: cannot listen on %s:%u: %s\n",
                     qPrintable(address.toString()), port, qPrintable(error));
        return 1;
    }
    std::printf("listening on %s:%u\n", qPrintable(address.toString()), port);
    std::fflush(stdout);
    // Units ordered after the hub's start once it listens: a logger's first heartbeat is heard.
    ServiceNotify::send("READY=1");
    ProcessSignals shutdown({SIGINT, SIGTERM}, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
