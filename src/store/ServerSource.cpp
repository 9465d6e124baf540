#include "store/ServerSource.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

const QString kMask = QStringLiteral("********");

// Splits at ";" outside braces.
QStringList parts(const QString& text) {
    QStringList out;
    QString current;
    int depth = 0;
    for (const QChar c : text) {
        if (c == u'{') {
            ++depth;
        } else if (c == u'}' && depth > 0) {
            --depth;
        } else if (c == u';' && depth == 0) {
            out.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    out.append(current);
    return out;
}

QString unbraced(const QString& value) {
    if (value.size() >= 2 && value.startsWith(u'{') && value.endsWith(u'}')) {
        return value.mid(1, value.size() - 2);
    }
    return value;
}

}  // namespace

ServerSource ServerSource::parse(const QString& text) {
    ServerSource s;
    bool first = true;
    for (const QString& part : parts(text)) {
        const qsizetype eq = part.indexOf(u'=');
        QString server;
        if (eq < 0) {
            if (first) {
                server = part.trimmed();
            }
        } else {
            const QString key = part.left(eq).trimmed().toLower();
            const QString value = unbraced(part.mid(eq + 1).trimmed());
            if (key == u"data source" || key == u"server" || key == u"host") {
                server = value;
            } else if (key == u"user id" || key == u"uid" || key == u"user") {
                s.userId = value;
            } else if (key == u"password" || key == u"pwd") {
                s.password = value;
            }
        }
        first = false;
        if (!server.isEmpty()) {
            if (const qsizetype comma = server.indexOf(u','); comma >= 0) {
                s.port = server.mid(comma + 1).trimmed();
                server = server.left(comma).trimmed();
            }
            s.host = server;
        }
    }
    return s;
}

QString ServerSource::redact(const QString& text) const {
    if (password.isEmpty()) {
        return text;
    }
    return QString(text).replace(password, kMask);
}

QString ServerSource::redactedSource(const QString& text) {
    return parse(text).redact(text);
}

bool ServerSource::sameHost(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

QString ServerSource::chosenSource(const QString& shown, const QString& stored) {
    if (shown == redactedSource(stored)) {
        return stored;
    }
    const ServerSource next = parse(shown);
    const ServerSource before = parse(stored);
    if (next.password != kMask || before.password.isEmpty()) {
        return shown;
    }
    if (sameHost(next.host, before.host)) {
        return QString(shown).replace(kMask, before.password);
    }
    static const QRegularExpression maskedPart(
        QStringLiteral("\\s*;?\\s*(password|pwd)\\s*=\\s*\\{?\\*{8}\\}?\\s*(?=;|$)"),
        QRegularExpression::CaseInsensitiveOption);
    return QString(shown).remove(maskedPart);
}
