#include "logger/db/FileDialect.h"

#include "support/DateText.h"
#include "support/Failure.h"

namespace FileDialect {

namespace {

[[noreturn]] void unterminated(const QString& statement) {
    throw Failure(ErrorNumber::Database,
                  QStringLiteral("Unterminated literal in statement: ") + statement);
}

// Reads a literal opened by `quote` at `i`; a doubled quote stands for one. Returns the content
// and leaves `i` after the closing quote.
QString readQuoted(const QString& s, qsizetype& i, QChar quote) {
    QString content;
    qsizetype from = ++i;
    while (true) {
        const qsizetype close = s.indexOf(quote, from);
        if (close < 0) {
            unterminated(s);
        }
        content += QStringView(s).sliced(i, close - i);
        if (close + 1 < s.size() && s[close + 1] == quote) {
            content += quote;
            i = from = close + 2;
            continue;
        }
        i = close + 1;
        return content;
    }
}

QString sqliteText(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\'', QStringLiteral("''"));
    return u'\'' + escaped + u'\'';
}

// Walks the statement once; each literal is handed to `literal`, everything else is copied.
template <typename OnLiteral>
QString scan(const QString& statement, OnLiteral literal) {
    QString out;
    out.reserve(statement.size() + 16);
    const qsizetype n = statement.size();
    qsizetype i = 0;
    qsizetype copied = 0;
    auto flush = [&](qsizetype upTo) {
        out += QStringView(statement).sliced(copied, upTo - copied);
    };
    while (i < n) {
        const QChar c = statement[i];
        if (c == u'"' || c == u'\'') {
            flush(i);
            literal(out, readQuoted(statement, i, c));
            copied = i;
        } else if (c == u'#') {
            const qsizetype close = statement.indexOf(u'#', i + 1);
            if (close < 0) {
                unterminated(statement);
            }
            flush(i);
            const QString text = statement.mid(i + 1, close - i - 1);
            literal(out, DateText::normalize(text).value_or(text));
            i = copied = close + 1;
        } else if (c == u'[') {
            const qsizetype close = statement.indexOf(u']', i + 1);
            i = close < 0 ? n : close + 1;
        } else if (c == u'-' && i + 1 < n && statement[i + 1] == u'-') {
            const qsizetype end = statement.indexOf(u'\n', i);
            i = end < 0 ? n : end;
        } else {
            ++i;
        }
    }
    flush(n);
    return out;
}

}  // namespace

QString toSqlite(const QString& statement) {
    return scan(statement, [](QString& out, const QString& value) { out += sqliteText(value); });
}

Parameterized parameterize(const QString& statement) {
    Parameterized p;
    p.shape = scan(statement, [&p](QString& out, QString value) {
        out += u'?';
        p.values.append(std::move(value));
    });
    return p;
}

}  // namespace FileDialect
