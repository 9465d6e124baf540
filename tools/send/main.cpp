// xap-send: sends one xAP message and, on request, prints the replies addressed to its source; or
// sends a capture of xap-snoop again.
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QUdpSocket>
#include <cstdio>

#include "CaptureFile.h"
#include "HeaderRules.h"
#include "Replay.h"
#include "message/Heartbeat.h"
#include "message/TextCodec.h"
#include "message/XapMessage.h"
#include "message/XapText.h"

namespace {

int fail(int code, const QString& text) {
    std::fprintf(stderr, "xap-send: %s\n", qPrintable(text));
    return code;
}

// An IPv4 address as given, or the first IPv4 address of a host name; null when there is none
// (`why` then says so).
QHostAddress destinationNamed(const QString& host, QString& why) {
    const QHostAddress given(host);
    if (!given.isNull()) {
        if (given.protocol() != QAbstractSocket::IPv4Protocol) {
            why = QStringLiteral("--host needs an IPv4 address or a host name, not ") + host;
            return {};
        }
        return given;
    }
    const QHostInfo found = QHostInfo::fromName(host);
    for (const QHostAddress& a : found.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            return a;
        }
    }
    why = QStringLiteral("--host ") + host + QStringLiteral(": no IPv4 address found") +
          (found.error() != QHostInfo::NoError ? u" (" + found.errorString() + u')' : QString());
    return {};
}

// The header fields given on the command line that are no valid xAP, said with the reason.
std::optional<QString> headerProblem(const QCommandLineParser& parser) {
    const std::pair<const char*, std::optional<QString> (*)(const QString&)> rules[] = {
        {"class", HeaderRules::classProblem},
        {"source", HeaderRules::sourceProblem},
        {"uid", HeaderRules::uidProblem},
    };
    for (const auto& [option, problem] : rules) {
        const QString name = QString::fromLatin1(option);
        if (!parser.isSet(name)) {
            continue;  // the defaults are valid
        }
        if (auto why = problem(parser.value(name))) {
            return u"--" + name + u" '" + parser.value(name) +
                   QStringLiteral("' is not valid xAP: ") + *why;
        }
    }
    return std::nullopt;
}

// --replay FILE [--speed X | --rate N] [--heartbeats]: the records of the capture, heartbeats
// left out unless asked for (a replayed heartbeat makes the local hub forward traffic to whatever
// port it names), with a progress line when standard error is a terminal.
int replayCapture(const QCommandLineParser& parser, const QHostAddress& destination, quint16 port) {
    for (const char* other : {"raw", "class", "section", "wait", "target", "uid"}) {
        if (parser.isSet(QString::fromLatin1(other))) {
            return fail(
                2, QStringLiteral("--replay does not go with --") + QString::fromLatin1(other));
        }
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail(2, QStringLiteral("--replay takes no NAME=VALUE items"));
    }
    ReplayPace pace;
    bool ok = true;
    if (parser.isSet(QStringLiteral("speed")) && parser.isSet(QStringLiteral("rate"))) {
        return fail(2, QStringLiteral("--speed and --rate do not go together"));
    }
    if (parser.isSet(QStringLiteral("speed"))) {
        pace.speed = parser.value(QStringLiteral("speed")).toDouble(&ok);
        if (!ok || pace.speed <= 0) {
            return fail(2, QStringLiteral("--speed needs a positive number"));
        }
    }
    if (parser.isSet(QStringLiteral("rate"))) {
        pace.rate = parser.value(QStringLiteral("rate")).toDouble(&ok);
        if (!ok || pace.rate < 0) {
            return fail(2, QStringLiteral("--rate needs a number of datagrams per second (0: no "
                                          "pauses)"));
        }
    }
    auto read = readCaptureFile(parser.value(QStringLiteral("replay")));
    if (!read) {
        return fail(2, read.problem().description);
    }
    QList<CaptureRecord> records;
    qsizetype heartbeats = 0;
    const bool withHeartbeats = parser.isSet(QStringLiteral("heartbeats"));
    for (CaptureRecord& r : read.value()) {
        if (!withHeartbeats && Heartbeat::read(textFromBytes(r.bytes))) {
            ++heartbeats;
        } else {
            records.append(std::move(r));
        }
    }
    std::function<void(qsizetype)> progress;
    if (::isatty(STDERR_FILENO)) {
        progress = [total = records.size(), heartbeats](qsizetype sent) {
            std::fprintf(stderr, "\rxap-send: replayed %lld of %lld (%d%%)", qlonglong(sent),
                         qlonglong(total), total > 0 ? int(100 * sent / total) : 100);
            if (sent == total) {
                std::fprintf(stderr, "%s\n",
                             heartbeats > 0
                                 ? qPrintable(QStringLiteral(", ") + QString::number(heartbeats) +
                                              QStringLiteral(" heartbeats left out"))
                                 : "");
            }
        };
    }
    if (Status s = replay(records, pace, destination, port, progress); !s) {
        return fail(1, s.problem().description);
    }
    return 0;
}

void defineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Sends one xAP message built from the options and NAME=VALUE items (or a raw text with "
        "--raw) to an xAP hub.\n"
        "Example: xap-send --class Homeseer.Event --section Event.Log "
        "\"Time=2026-12-04 23:13:09\" Type=Log Data=hello\n"
        "Exit status: 0 sent (with --wait: and a reply came), 1 send failed, 2 bad arguments, "
        "3 no reply within --wait."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.setApplicationDescription(
        parser.applicationDescription() +
        QStringLiteral("\nOr: xap-send --replay FILE [--speed X | --rate N] sends a capture of "
                       "xap-snoop again."));
    const QString host = QHostInfo::localHostName();
    parser.addOptions({
        {QStringLiteral("host"),
         QStringLiteral("Destination IPv4 address or host name (default 127.0.0.1)."),
         QStringLiteral("address"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("port"), QStringLiteral("Destination port (default 3639)."),
         QStringLiteral("port"), QStringLiteral("3639")},
        {QStringLiteral("class"), QStringLiteral("Message class."), QStringLiteral("class")},
        {QStringLiteral("source"), QStringLiteral("Source address (default zel.xapsend.HOST)."),
         QStringLiteral("address"), QStringLiteral("zel.xapsend.") + host},
        {QStringLiteral("target"), QStringLiteral("Target address (default: none)."),
         QStringLiteral("address")},
        {QStringLiteral("uid"), QStringLiteral("UID (default FF.00AB:00)."), QStringLiteral("uid"),
         QStringLiteral("FF.00AB:00")},
        {QStringLiteral("section"), QStringLiteral("Section name of the items."),
         QStringLiteral("name")},
        {QStringLiteral("raw"),
         QStringLiteral("Send the text of FILE (\"-\" for standard input) as it is."),
         QStringLiteral("file")},
        {QStringLiteral("wait"),
         QStringLiteral("Wait SECONDS for replies addressed to the source and print them; the "
                        "hub learns this program's port from a heartbeat it sends first."),
         QStringLiteral("seconds")},
        {QStringLiteral("all"), QStringLiteral("With --wait, print every message received.")},
        {QStringLiteral("replay"),
         QStringLiteral("Send the datagrams of a capture FILE of xap-snoop (\"-\" for standard "
                        "input) again, spaced as they arrived."),
         QStringLiteral("file")},
        {QStringLiteral("speed"),
         QStringLiteral("With --replay, divide the capture's spacing by X (2: twice as fast)."),
         QStringLiteral("x")},
        {QStringLiteral("rate"),
         QStringLiteral("With --replay, send N datagrams per second instead (0: no pauses)."),
         QStringLiteral("n")},
        {QStringLiteral("heartbeats"),
         QStringLiteral("With --replay, send the capture's heartbeats too.")},
    });
    parser.addPositionalArgument(QStringLiteral("items"), QStringLiteral("NAME=VALUE ..."));
}

// An option given without the one it goes with.
std::optional<QString> misplacedOption(const QCommandLineParser& parser) {
    for (const char* replayOnly : {"speed", "rate", "heartbeats"}) {
        if (parser.isSet(QString::fromLatin1(replayOnly))) {
            return QStringLiteral("--") + QString::fromLatin1(replayOnly) +
                   QStringLiteral(" goes only with --replay");
        }
    }
    if (!parser.isSet(QStringLiteral("wait")) && parser.isSet(QStringLiteral("all"))) {
        return QStringLiteral("--all goes only with --wait");
    }
    return std::nullopt;
}

// The seconds --wait gives, 0 without it; null when it is no positive number.
std::optional<double> waitSeconds(const QCommandLineParser& parser) {
    if (!parser.isSet(QStringLiteral("wait"))) {
        return 0.0;
    }
    bool ok = false;
    const double seconds = parser.value(QStringLiteral("wait")).toDouble(&ok);
    if (!ok || seconds <= 0) {
        return std::nullopt;
    }
    return seconds;
}

// The text of the file --raw names ("-": standard input); a problem says why there is none.
Result<QString> rawText(const QString& name) {
    const auto problem = [](const QString& text) { return Problem{ErrorKind::FileSystem, text}; };
    QFile file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        return problem(QStringLiteral("cannot read ") + name + u": " + file.errorString());
    }
    QString text = textFromBytes(file.readAll());
    if (text.trimmed().isEmpty()) {
        return problem(QStringLiteral("nothing to send: ") + name + QStringLiteral(" is empty"));
    }
    return text;
}

// The message the header options and NAME=VALUE items make; a problem says what is missing.
Result<QString> builtText(const QCommandLineParser& parser) {
    const auto problem = [](const QString& text) { return Problem{ErrorKind::Message, text}; };
    if (!parser.isSet(QStringLiteral("class")) || !parser.isSet(QStringLiteral("section"))) {
        return problem(QStringLiteral("--class and --section are needed (or --raw)"));
    }
    QList<XapItem> items;
    for (const QString& item : parser.positionalArguments()) {
        const qsizetype eq = item.indexOf(u'=');
        if (eq <= 0) {
            return problem(QStringLiteral("item '") + item + QStringLiteral("' is not NAME=VALUE"));
        }
        items.append(XapItem{item.left(eq), item.mid(eq + 1)});
    }
    return XapText::message(
        XapHeader{parser.value(QStringLiteral("uid")), parser.value(QStringLiteral("class")),
                  parser.value(QStringLiteral("source")), parser.value(QStringLiteral("target"))},
        parser.value(QStringLiteral("section")), items);
}

// Prints the datagrams that reach `socket` within `limitMs` and are addressed to `source` (every
// one with `all`); how many it printed.
int printReplies(QUdpSocket& socket, const QString& source, qint64 limitMs, bool all) {
    int replies = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limitMs) {
        if (!socket.waitForReadyRead(int(limitMs - clock.elapsed()))) {
            continue;
        }
        while (socket.hasPendingDatagrams()) {
            QByteArray bytes(socket.pendingDatagramSize(), Qt::Uninitialized);
            if (socket.readDatagram(bytes.data(), bytes.size()) < 0) {
                continue;
            }
            const QString reply = textFromBytes(bytes);
            const XapMessage m = XapMessage::read(reply);
            if (all || (m.target() != u"Unknown" && m.targetMatches(source))) {
                std::printf("%s\n", qPrintable(reply));
                std::fflush(stdout);
                ++replies;
            }
        }
    }
    return replies;
}

// Sends `text` and, with --wait, announces the socket with a heartbeat first, prints the replies
// and says goodbye with a stopped heartbeat. The exit status.
int sendMessage(const QCommandLineParser& parser, const QHostAddress& destination, quint16 port,
                const QString& text, double waitSeconds) {
    const QString source = parser.value(QStringLiteral("source"));
    const QString uid = parser.value(QStringLiteral("uid"));
    QUdpSocket socket;
    // A hub of this host answers on loopback; another host needs the socket on its interfaces.
    const QHostAddress local(destination.isLoopback() ? QHostAddress::LocalHost
                                                      : QHostAddress::AnyIPv4);
    if (!socket.bind(local, 0)) {
        return fail(1, QStringLiteral("cannot open a socket: ") + socket.errorString());
    }
    const int myPort = socket.localPort();
    auto send = [&](const QString& t) {
        const QByteArray bytes = bytesFromText(t);
        return socket.writeDatagram(bytes, destination, port) == bytes.size();
    };
    auto heartbeat = [&](QStringView hbClass) {
        return Heartbeat{hbClass.toString(), source, uid, 60, myPort}.text();
    };
    if (waitSeconds > 0 && !send(heartbeat(Heartbeat::kAlive))) {
        return fail(1, QStringLiteral("heartbeat not sent: ") + socket.errorString());
    }
    if (!send(text)) {
        return fail(1, QStringLiteral("message not sent: ") + socket.errorString());
    }
    if (waitSeconds <= 0) {
        return 0;
    }
    const int replies = printReplies(socket, source, qint64(waitSeconds * 1000),
                                     parser.isSet(QStringLiteral("all")));
    send(heartbeat(Heartbeat::kStopped));
    return replies > 0 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xap-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLJOT_VERSION));

    QCommandLineParser parser;
    defineOptions(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        return fail(2, parser.errorText() + QStringLiteral(" (see --help)"));
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }

    bool ok = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        return fail(2, QStringLiteral("--port needs a number from 1 to 65535"));
    }
    QString unusableHost;
    const QHostAddress destination =
        destinationNamed(parser.value(QStringLiteral("host")), unusableHost);
    if (destination.isNull()) {
        return fail(2, unusableHost);
    }
    if (parser.isSet(QStringLiteral("replay"))) {
        return replayCapture(parser, destination, quint16(port));
    }
    if (const auto misplaced = misplacedOption(parser)) {
        return fail(2, *misplaced);
    }
    const std::optional<double> wait = waitSeconds(parser);
    if (!wait) {
        return fail(2, QStringLiteral("--wait needs a positive number of seconds"));
    }
    if (const auto problem = headerProblem(parser)) {
        return fail(2, *problem);
    }
    const Result<QString> text = parser.isSet(QStringLiteral("raw"))
                                     ? rawText(parser.value(QStringLiteral("raw")))
                                     : builtText(parser);
    if (!text) {
        return fail(2, text.problem().description);
    }
    return sendMessage(parser, destination, quint16(port), text.value(), *wait);
}
