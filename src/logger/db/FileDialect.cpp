#include "logger/db/FileDialect.h"

#include "support/DateText.h"
#include "support/Failure.h"

namespace FileDialect {

namespace {

// Reads a literal opened by `quote` at `i`; a doubled quote stands for one. Returns the content
// and leaves `i` after the closing quote.
QString readQuoted(const QString& s, qsizetype& i, QChar quote) {
    QString content;
    ++i;
    while (i < s.size()) {
        if (s[i] == quote) {
            if (i + 1 < s.size() && s[i + 1] == quote) {
                content += quote;
                i += 2;
                continue;
            }
            ++i;
            return content;
        }
        content += s[i++];
    }
    throw Failure(ErrorNumber::Database, QStringLiteral("Unterminated literal in statement: ") + s);
}

QString sqliteText(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\'', QStringLiteral("''"));
    return u'\'' + escaped + u'\'';
}

}  // namespace

QString toSqlite(const QString& statement) {
    QString out;
    out.reserve(statement.size() + 16);
    const DateText::Order order = DateText::systemOrder();
    qsizetype i = 0;
    const qsizetype n = statement.size();
    while (i < n) {
        const QChar c = statement[i];
        if (c == u'"') {
            out += sqliteText(readQuoted(statement, i, u'"'));
        } else if (c == u'\'') {
            out += sqliteText(readQuoted(statement, i, u'\''));
        } else if (c == u'#') {
            const qsizetype close = statement.indexOf(u'#', i + 1);
            if (close < 0) {
                throw Failure(
                    ErrorNumber::Database,
                    QStringLiteral("Unterminated date literal in statement: ") + statement);
            }
            const QString text = statement.mid(i + 1, close - i - 1);
            const auto when = DateText::read(text, order);
            out += sqliteText(when ? DateText::isoText(*when) : text);
            i = close + 1;
        } else if (c == u'[') {
            const qsizetype close = statement.indexOf(u']', i + 1);
            const qsizetype end = close < 0 ? n : close + 1;
            out += QStringView(statement).sliced(i, end - i);
            i = end;
        } else if (c == u'-' && i + 1 < n && statement[i + 1] == u'-') {
            qsizetype end = statement.indexOf(u'\n', i);
            end = end < 0 ? n : end;
            out += QStringView(statement).sliced(i, end - i);
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace FileDialect
