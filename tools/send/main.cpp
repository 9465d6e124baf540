// xap-send: sends one xAP message and, on request, prints the replies addressed to its source.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QUdpSocket>
#include <cstdio>

#include "message/Heartbeat.h"
#include "message/TextCodec.h"
#include "message/XapMessage.h"
#include "message/XapText.h"

namespace {

int fail(int code, const QString& text) {
    std::fprintf(stderr, "xap-send: %s\n", qPrintable(text));
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xap-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLJOT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends one xAP message built from the options and NAME=VALUE items (or a raw text with "
        "--raw) to an xAP hub.\n"
        "Example: xap-send --class Homeseer.Event --section Event.Log "
        "\"Time=2026-12-04 23:13:09\" Type=Log Data=hello\n"
        "Exit status: 0 sent (with --wait: and a reply came), 1 send failed, 2 bad arguments, "
        "3 no reply within --wait."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QString host = QHostInfo::localHostName();
    parser.addOptions({
        {QStringLiteral("host"), QStringLiteral("Destination address (default 127.0.0.1)."),
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
    });
    parser.addPositionalArgument(QStringLiteral("items"), QStringLiteral("NAME=VALUE ..."));
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        return fail(2, QStringLiteral("--port needs a number from 1 to 65535"));
    }
    const QHostAddress destination(parser.value(QStringLiteral("host")));
    if (destination.isNull()) {
        return fail(2, QStringLiteral("--host needs an IPv4 address"));
    }
    double waitSeconds = 0;
    if (parser.isSet(QStringLiteral("wait"))) {
        waitSeconds = parser.value(QStringLiteral("wait")).toDouble(&ok);
        if (!ok || waitSeconds <= 0) {
            return fail(2, QStringLiteral("--wait needs a positive number of seconds"));
        }
    }
    const QString source = parser.value(QStringLiteral("source"));
    const QString uid = parser.value(QStringLiteral("uid"));

    QString text;
    if (parser.isSet(QStringLiteral("raw"))) {
        QFile file;
        const QString name = parser.value(QStringLiteral("raw"));
        const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                         : (file.setFileName(name), file.open(QIODevice::ReadOnly));
        if (!opened) {
            return fail(2, QStringLiteral("cannot read ") + name + u": " + file.errorString());
        }
        text = textFromBytes(file.readAll());
    } else {
        if (!parser.isSet(QStringLiteral("class")) || !parser.isSet(QStringLiteral("section"))) {
            return fail(2, QStringLiteral("--class and --section are needed (or --raw)"));
        }
        QList<XapItem> items;
        for (const QString& item : parser.positionalArguments()) {
            const qsizetype eq = item.indexOf(u'=');
            if (eq <= 0) {
                return fail(
                    2, QStringLiteral("item '") + item + QStringLiteral("' is not NAME=VALUE"));
            }
            items.append(XapItem{item.left(eq), item.mid(eq + 1)});
        }
        text = XapText::message(XapHeader{uid, parser.value(QStringLiteral("class")), source,
                                          parser.value(QStringLiteral("target"))},
                                parser.value(QStringLiteral("section")), items);
    }

    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::LocalHost), 0)) {
        return fail(1, QStringLiteral("cannot open a socket: ") + socket.errorString());
    }
    const int myPort = socket.localPort();
    auto send = [&](const QString& t) {
        const QByteArray bytes = bytesFromText(t);
        return socket.writeDatagram(bytes, destination, quint16(port)) == bytes.size();
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

    int replies = 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(waitSeconds * 1000);
    const bool all = parser.isSet(QStringLiteral("all"));
    while (clock.elapsed() < limit) {
        if (!socket.waitForReadyRead(int(limit - clock.elapsed()))) {
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
    send(heartbeat(Heartbeat::kStopped));
    return replies > 0 ? 0 : 3;
}
