#include "SnoopOptions.h"

namespace {

Problem bad(const QString& text) {
    return Problem{ErrorKind::Generic, text, 0};
}

std::optional<quint16> portValue(const QString& text, uint lowest) {
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port < lowest || port > 65535) {
        return std::nullopt;
    }
    return quint16(port);
}

}  // namespace

void SnoopOptions::describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Shows the xAP traffic of this host as it arrives: registers with the local hub like any "
        "xAP application and prints one line per message (or its whole text with -v, or JSON "
        "with --json). Patterns use xAP wildcards: \"*\" one part, \">\" the rest. SIGINT "
        "(Ctrl-C) or SIGTERM ends it and prints counts by class and source on standard error.\n"
        "Exit status: 0 ok, 1 cannot listen or write the capture, 2 bad arguments, 3 nothing "
        "shown before --timeout."));
    // -v is the whole text, as in other snoopers; the version is only --version.
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("version"), QStringLiteral("Print the version.")},
        {QStringLiteral("port"),
         QStringLiteral("Port to listen on at 127.0.0.1 (default: any free port)."),
         QStringLiteral("port"), QStringLiteral("0")},
        {QStringLiteral("hub-port"), QStringLiteral("Port of the local hub (default 3639)."),
         QStringLiteral("port"), QStringLiteral("3639")},
        {QStringLiteral("class"), QStringLiteral("Show only messages of this class pattern."),
         QStringLiteral("pattern")},
        {QStringLiteral("source"), QStringLiteral("Show only messages from this source pattern."),
         QStringLiteral("pattern")},
        {QStringLiteral("target"),
         QStringLiteral("Show only messages with a target that matches this pattern."),
         QStringLiteral("pattern")},
        {QStringLiteral("heartbeats"), QStringLiteral("Show heartbeats too.")},
        {{QStringLiteral("v"), QStringLiteral("verbose")},
         QStringLiteral("Print the whole text of each message.")},
        {QStringLiteral("json"), QStringLiteral("Print one JSON object per message.")},
        {QStringLiteral("capture"),
         QStringLiteral("Write every datagram received, filtered or not, with its arrival time "
                        "to FILE (JSON lines; \"-\" for standard output)."),
         QStringLiteral("file")},
        {QStringLiteral("count"), QStringLiteral("Stop after N messages shown."),
         QStringLiteral("n")},
        {QStringLiteral("timeout"), QStringLiteral("Stop after SECONDS."),
         QStringLiteral("seconds")},
    });
}

Result<SnoopOptions> SnoopOptions::read(const QCommandLineParser& parser) {
    SnoopOptions o;
    if (!parser.positionalArguments().isEmpty()) {
        return bad(QStringLiteral("unexpected argument '") + parser.positionalArguments().first() +
                   u'\'');
    }
    const auto port = portValue(parser.value(QStringLiteral("port")), 0);
    if (!port) {
        return bad(QStringLiteral("--port needs a number from 0 to 65535"));
    }
    o.port = *port;
    const auto hubPort = portValue(parser.value(QStringLiteral("hub-port")), 1);
    if (!hubPort) {
        return bad(QStringLiteral("--hub-port needs a number from 1 to 65535"));
    }
    o.hubPort = *hubPort;
    o.filter.classPattern = parser.value(QStringLiteral("class"));
    o.filter.sourcePattern = parser.value(QStringLiteral("source"));
    o.filter.targetPattern = parser.value(QStringLiteral("target"));
    o.filter.heartbeats = parser.isSet(QStringLiteral("heartbeats"));
    for (const char* name : {"class", "source", "target"}) {
        const QString option = QString::fromLatin1(name);
        if (parser.isSet(option) && parser.value(option).trimmed().isEmpty()) {
            return bad(QStringLiteral("--") + option + QStringLiteral(" needs a pattern"));
        }
    }
    if (parser.isSet(QStringLiteral("json")) && parser.isSet(QStringLiteral("verbose"))) {
        return bad(QStringLiteral("--json and -v do not go together"));
    }
    o.output = parser.isSet(QStringLiteral("json"))      ? Output::Json
               : parser.isSet(QStringLiteral("verbose")) ? Output::Full
                                                         : Output::Summary;
    o.capturePath = parser.value(QStringLiteral("capture"));
    if (parser.isSet(QStringLiteral("capture")) && o.capturePath.isEmpty()) {
        return bad(QStringLiteral("--capture needs a file name"));
    }
    if (o.capturePath == u"-" && o.output != Output::Summary) {
        return bad(
            QStringLiteral("--capture - writes to standard output: leave out -v and --json"));
    }
    bool ok = true;
    if (parser.isSet(QStringLiteral("count"))) {
        o.count = parser.value(QStringLiteral("count")).toLongLong(&ok);
        if (!ok || o.count <= 0) {
            return bad(QStringLiteral("--count needs a positive number"));
        }
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 1e6) {
            return bad(QStringLiteral("--timeout needs a positive number of seconds"));
        }
        o.timeoutMs = qint64(seconds * 1000);
    }
    return o;
}
