#include "logger/EchoFormat.h"

#include "support/DateText.h"

namespace EchoFormat {

namespace {

QString oneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("|"));
    text.replace(u'\r', u'|');
    text.replace(u'\n', u'|');
    return text;
}

}  // namespace

QString line(const QString& source, const QString& time, const QString& category,
             const QString& data, const QDateTime& now) {
    const auto when = DateText::normalize(time);
    return source.leftJustified(20, u' ') + u'\t' + (when ? *when : DateText::isoText(now)) +
           QStringLiteral(" |  ") + oneLine(category) + QStringLiteral("  |  ") + oneLine(data);
}

bool matches(const QString& categoryFilter, const QString& dataFilter, const QString& category,
             const QString& data) {
    return (categoryFilter.isEmpty() || category.contains(categoryFilter, Qt::CaseInsensitive)) &&
           (dataFilter.isEmpty() || data.contains(dataFilter, Qt::CaseInsensitive));
}

QString append(const QString& text, const QString& line) {
    QString out = text + QStringLiteral("\r\n") + line;
    if (out.size() > kMaxEchoText) {
        out = out.right(kMaxEchoText);
    }
    return out;
}

}  // namespace EchoFormat
