#include "mqtt/MqttPayloads.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "message/XapMessage.h"
#include "support/JsonText.h"

namespace {

void field(QByteArray& out, const char* name, const QString& value, bool first = false) {
    if (!first) {
        out += ',';
    }
    out += '"';
    out += name;
    out += "\":";
    JsonText::appendString(out, value.toUtf8());
}

Problem wrongCommand(const QString& why) {
    return Problem{ErrorKind::Message, why};
}

}  // namespace

namespace MqttPayloads {

QString topicPath(QStringView address) {
    QString out;
    out.reserve(address.size());
    QString level;
    const auto endLevel = [&] {
        out += level.isEmpty() ? QStringLiteral("_") : level;
        level.clear();
    };
    for (const QChar c : address) {
        if (c == u'.' || c == u':') {
            endLevel();
            out += u'/';
        } else if (c == u'+' || c == u'#' || c == u'/' || c.unicode() == 0) {
            level += u'_';
        } else {
            level += c;
        }
    }
    endLevel();
    return out;
}

QString statusTopic(const QString& prefix) {
    return prefix + QStringLiteral("/status");
}

QString eventTopic(const QString& prefix, const QString& source) {
    return prefix + QStringLiteral("/event/") + topicPath(source);
}

QString messageTopic(const QString& prefix, const LoggedMessage& message) {
    QString level = message.messageClass;
    for (QChar& c : level) {
        if (c == u'+' || c == u'#' || c == u'/' || c.unicode() == 0) {
            c = u'_';
        }
    }
    return prefix + QStringLiteral("/xap/") + (level.isEmpty() ? QStringLiteral("_") : level) +
           u'/' + topicPath(message.source);
}

QString commandTopic(const QString& prefix) {
    return prefix + QStringLiteral("/send");
}

QByteArray eventJson(const LogEvent& event, quint64 id) {
    QByteArray out;
    out.reserve(64 + event.time.size() + event.source.size() + event.type.size() +
                event.data.size() * 2);
    out += '{';
    field(out, "time", event.time, true);
    field(out, "source", event.source);
    field(out, "type", event.type);
    field(out, "data", event.data);
    out += ",\"id\":";
    out += QByteArray::number(id);
    out += '}';
    return out;
}

QByteArray messageJson(const LoggedMessage& message) {
    QByteArray out;
    out += '{';
    field(out, "time", message.time, true);
    out += ",\"header\":{";
    field(out, "uid", message.uid, true);
    field(out, "class", message.messageClass);
    field(out, "source", message.source);
    field(out, "target", message.target);
    out += "},\"blocks\":[";
    const XapMessage read = XapMessage::read(message.text);
    const QList<QString> names = read.blockNames();
    for (qsizetype b = 0; b < names.size(); ++b) {
        if (b > 0) {
            out += ',';
        }
        out += '{';
        field(out, "name", names[b], true);
        out += ",\"items\":{";
        bool first = true;
        for (const QStringView line : read.itemLines(b)) {
            const qsizetype eq = line.indexOf(u'=');
            if (!first) {
                out += ',';
            }
            first = false;
            JsonText::appendString(out, line.first(eq).trimmed().toUtf8());
            out += ':';
            JsonText::appendString(out, line.sliced(eq + 1).toUtf8());
        }
        out += "}}";
    }
    out += "]}";
    return out;
}

Result<OutgoingMessage> command(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return wrongCommand(QStringLiteral("the command is no JSON object (") +
                            (error.error != QJsonParseError::NoError
                                 ? error.errorString()
                                 : QStringLiteral("not an object")) +
                            u')');
    }
    const QJsonObject o = doc.object();
    OutgoingMessage m;
    m.className = o.value(QStringLiteral("class")).toString();
    m.target = o.value(QStringLiteral("target")).toString();
    m.block = o.value(QStringLiteral("block")).toString();
    if (m.className.isEmpty() || m.block.isEmpty() ||
        !o.value(QStringLiteral("items")).isObject()) {
        return wrongCommand(
            QStringLiteral("a command needs \"class\", \"block\" and an object of \"items\""));
    }
    const QJsonObject items = o.value(QStringLiteral("items")).toObject();
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (!it.value().isString()) {
            return wrongCommand(QStringLiteral("item ") + it.key() +
                                QStringLiteral(" of the command is no text"));
        }
        m.items.append(XapItem{it.key(), it.value().toString()});
    }
    // The logger makes the header; a text that would break the message's layout is refused.
    const auto breaksLayout = [](const QString& s) {
        return s.contains(u'\n') || s.contains(u'\r') || s.contains(u'{') || s.contains(u'}');
    };
    bool broken = breaksLayout(m.className) || breaksLayout(m.target) || breaksLayout(m.block);
    for (const XapItem& item : m.items) {
        broken = broken || breaksLayout(item.name) || item.name.contains(u'=') ||
                 item.value.contains(u'\n') || item.value.contains(u'\r');
    }
    if (broken) {
        return wrongCommand(QStringLiteral(
            "a command's texts may hold no line break, and its names no braces or ="));
    }
    return m;
}

}  // namespace MqttPayloads
