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
// (a view into the statement when it holds no doubled quote) and leaves `i` after the literal.
Parameterized::Value readQuoted(const QString& s, qsizetype& i, QChar quote) {
    Parameterized::Value v;
    const qsizetype start = ++i;
    qsizetype from = start;
    while (true) {
        const qsizetype close = s.indexOf(quote, from);
        if (close < 0) {
            unterminated(s);
        }
        if (close + 1 < s.size() && s[close + 1] == quote) {
            v.isOwned = true;
            v.owned += QStringView(s).sliced(from, close + 1 - from);
            from = close + 2;
            continue;
        }
        if (!v.isOwned) {
            v.view = QStringView(s).sliced(start, close - start);
        } else {
            v.owned += QStringView(s).sliced(from, close - from);
        }
        i = close + 1;
        return v;
    }
}

QString sqliteText(QStringView text) {
    QString escaped = text.toString();
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
            Parameterized::Value date;
            date.view = QStringView(statement).sliced(i + 1, close - i - 1);
            const QString text = date.view.toString();
            // Dates already in the stored form stay views; others are rewritten.
            const auto normal = DateText::normalize(text);
            if (normal && *normal != text) {
                date.owned = *normal;
                date.isOwned = true;
            }
            literal(out, std::move(date));
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
    return scan(statement, [](QString& out, const Parameterized::Value& value) {
        out += sqliteText(value.text());
    });
}

Parameterized parameterize(const QString& statement) {
    Parameterized p;
    p.values.reserve(8);
    p.shape = scan(statement, [&p](QString& out, Parameterized::Value value) {
        // A blank after the "?": digits right after a literal would otherwise make it "?NNN",
        // SQLite's numbered parameter, and the values would bind to the wrong places.
        out += QStringLiteral("? ");
        p.values.append(std::move(value));
    });
    return p;
}

}  // namespace FileDialect
