#include "logger/EchoFormat.h"

namespace EchoFormat {

namespace {

QString oneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("|"));
    text.replace(u'\r', u'|');
    text.replace(u'\n', u'|');
    return text;
}

}  // namespace

QString line(const LogEvent& event) {
    return event.source.leftJustified(20, u' ') + u'\t' + event.time + QStringLiteral(" |  ") +
           oneLine(event.type) + QStringLiteral("  |  ") + oneLine(event.data);
}

bool matches(const QString& typeFilter, const QString& dataFilter, const LogEvent& event) {
    return (typeFilter.isEmpty() || event.type.contains(typeFilter, Qt::CaseInsensitive)) &&
           (dataFilter.isEmpty() || event.data.contains(dataFilter, Qt::CaseInsensitive));
}

QString append(const QString& text, const QString& line) {
    QString out = text + QStringLiteral("\r\n") + line;
    if (out.size() > kMaxEchoText) {
        out = out.right(kMaxEchoText);
    }
    return out;
}

}  // namespace EchoFormat
