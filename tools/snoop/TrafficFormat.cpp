#include "TrafficFormat.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace TrafficFormat {

namespace {

constexpr char kDim[] = "\x1b[2m";
constexpr char kBold[] = "\x1b[1m";
constexpr char kCyan[] = "\x1b[36m";
constexpr char kYellow[] = "\x1b[33m";
constexpr char kRed[] = "\x1b[31m";
constexpr char kReset[] = "\x1b[0m";

QDateTime arrival(const SeenMessage& seen) {
    return QDateTime::fromMSecsSinceEpoch(seen.microseconds / 1000);
}

struct Line {
    QByteArray out;
    bool colour;

    void add(const char* style, const QString& text) {
        if (!out.isEmpty()) {
            out += "  ";
        }
        if (colour && style != nullptr) {
            out += style;
        }
        out += printable(text, false).toUtf8();
        if (colour && style != nullptr) {
            out += kReset;
        }
    }
};

QString firstLine(const QString& text) {
    const qsizetype end = text.indexOf(u'\n');
    return text.first(end < 0 ? text.size() : end).left(60);
}

}  // namespace

QString printable(QStringView text, bool keepLines) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (keepLines && (u == u'\n' || u == u'\t')) {
            out += c;
        } else if (keepLines && u == u'\r') {
            continue;
        } else if (u == u'\n') {
            out += u'|';
        } else if (u < 0x20 || (u >= 0x7f && u < 0xa0)) {
            out += u'?';
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray summary(const SeenMessage& seen, bool colour) {
    Line line{{}, colour};
    line.add(kDim, arrival(seen).toString(u"HH:mm:ss.zzz"));
    switch (seen.kind) {
        case SeenMessage::Kind::Other:
            line.add(kRed, QStringLiteral("(not xAP, ") + QString::number(seen.size) +
                               QStringLiteral(" bytes)"));
            line.add(nullptr, firstLine(seen.text));
            break;
        case SeenMessage::Kind::Heartbeat:
            line.add(kCyan, seen.source);
            line.add(kDim, seen.className);
            line.add(kDim, QStringLiteral("interval=") + QString::number(seen.interval) +
                               QStringLiteral(" port=") + QString::number(seen.port));
            break;
        case SeenMessage::Kind::Message:
            line.add(kCyan, seen.source);
            line.add(kBold, seen.className);
            if (!seen.target.isEmpty()) {
                line.add(nullptr, QStringLiteral("-> ") + seen.target);
            }
            if (seen.isEvent) {
                line.add(kYellow, QStringLiteral("Type=") + seen.type);
                line.add(nullptr, QStringLiteral("Data=") + seen.data);
            }
            if (!seen.fault.isEmpty()) {
                line.add(kRed, QStringLiteral("(unreadable: ") + seen.fault + u')');
            }
            break;
    }
    line.out += '\n';
    return line.out;
}

QByteArray full(const SeenMessage& seen, bool colour) {
    QByteArray out = summary(seen, colour);
    QString text = printable(seen.text, true);
    if (!text.endsWith(u'\n')) {
        text += u'\n';
    }
    out += text.toUtf8();
    out += '\n';
    return out;
}

QByteArray json(const SeenMessage& seen) {
    static const QString kKinds[] = {QStringLiteral("message"), QStringLiteral("heartbeat"),
                                     QStringLiteral("other")};
    QJsonObject o{
        {QStringLiteral("time"), arrival(seen).toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("kind"), kKinds[int(seen.kind)]},
        {QStringLiteral("text"), seen.text},
    };
    if (seen.kind != SeenMessage::Kind::Other) {
        o.insert(QStringLiteral("class"), seen.className);
        o.insert(QStringLiteral("source"), seen.source);
        o.insert(QStringLiteral("uid"), seen.uid);
    }
    if (!seen.target.isEmpty()) {
        o.insert(QStringLiteral("target"), seen.target);
    }
    if (seen.isEvent) {
        o.insert(QStringLiteral("type"), seen.type);
        o.insert(QStringLiteral("data"), seen.data);
    }
    if (!seen.fault.isEmpty()) {
        o.insert(QStringLiteral("fault"), seen.fault);
    }
    if (seen.kind == SeenMessage::Kind::Heartbeat) {
        o.insert(QStringLiteral("interval"), seen.interval);
        o.insert(QStringLiteral("port"), seen.port);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace TrafficFormat
