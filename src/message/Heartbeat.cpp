#include "message/Heartbeat.h"

#include "message/AsciiCase.h"

QString Heartbeat::text() const {
    return QStringLiteral("xap-hbeat\n{\nv=13\nhop=1\nuid=") + uid + QStringLiteral("\nclass=") +
           className + QStringLiteral("\nsource=") + source + QStringLiteral("\ninterval=") +
           QString::number(intervalSeconds) + QStringLiteral("\nport=") + QString::number(port) +
           QStringLiteral("\n}\n");
}

std::optional<Heartbeat> Heartbeat::read(QStringView text) {
    qsizetype at = 0;
    auto nextLine = [&]() -> std::optional<QStringView> {
        if (at > text.size()) {
            return std::nullopt;
        }
        const qsizetype lf = text.indexOf(u'\n', at);
        const qsizetype end = lf < 0 ? text.size() : lf;
        const QStringView line = text.sliced(at, end - at).trimmed();
        at = end + 1;
        return line;
    };
    const auto first = nextLine();
    if (!first || !equalsIgnoringCase(*first, u"xap-hbeat")) {
        return std::nullopt;
    }
    Heartbeat hb;
    while (const auto line = nextLine()) {
        if (*line == u"}") {
            break;
        }
        const qsizetype eq = line->indexOf(u'=');
        if (eq < 0) {
            continue;
        }
        const QStringView key = line->first(eq).trimmed();
        const QStringView value = line->sliced(eq + 1).trimmed();
        bool ok = false;
        if (equalsIgnoringCase(key, u"class")) {
            hb.className = value.toString();
        } else if (equalsIgnoringCase(key, u"source")) {
            hb.source = value.toString();
        } else if (equalsIgnoringCase(key, u"uid")) {
            hb.uid = value.toString();
        } else if (equalsIgnoringCase(key, u"port")) {
            const int p = value.toInt(&ok);
            hb.port = ok && p > 0 && p < 65536 ? p : -1;
        } else if (equalsIgnoringCase(key, u"interval")) {
            const int s = value.toInt(&ok);
            hb.intervalSeconds = ok && s > 0 ? s : -1;
        }
    }
    return hb;
}

bool Heartbeat::isAlive() const {
    return equalsIgnoringCase(className, kAlive);
}

bool Heartbeat::isStopped() const {
    return equalsIgnoringCase(className, kStopped) ||
           equalsIgnoringCase(className, u"xap-hbeat.stop");
}
