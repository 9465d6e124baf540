#include "logger/SqlTexts.h"

#include <algorithm>

#include "message/FastString.h"
#include "support/Failure.h"

namespace SqlTexts {

bool isPlainName(const QString& name) {
    if (name.isEmpty() || name.size() > 128) {
        return false;
    }
    auto letter = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
    };
    if (!letter(name.front())) {
        return false;
    }
    return std::all_of(name.begin(), name.end(),
                       [&](QChar c) { return letter(c) || (c >= u'0' && c <= u'9'); });
}

void checkFilter(const QString& filter) {
    if (filter.contains(u'\'')) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("A filter may not contain an apostrophe: ") + filter);
    }
}

QString createTable(const QString& table) {
    FastString s;
    s.Add(QStringLiteral("CREATE TABLE "));
    s.Add(table);
    s.Add(QStringLiteral(" ("));
    s.Add(QStringLiteral("ID int IDENTITY(1,1), "));
    s.Add(QStringLiteral("SampleDate[datetime] NOT NULL, "));
    s.Add(QStringLiteral("Source varchar(255)  NULL, "));
    s.Add(QStringLiteral("Category varchar(255) NULL, "));
    s.Add(QStringLiteral("Data text NULL) "));
    return s.Value();
}

QString addPrimaryKey(const QString& table) {
    FastString s;
    s.Add(QStringLiteral("ALTER TABLE "));
    s.Add(table);
    s.Add(QStringLiteral(" WITH NOCHECK ADD CONSTRAINT [PK_"));
    s.Add(table);
    s.Add(QStringLiteral("] PRIMARY KEY NONCLUSTERED (ID)"));
    return s.Value();
}

QString createDatabase(const QString& database) {
    return QStringLiteral("CREATE DATABASE ") + database;
}

QString insertEvent(bool useSql, const QString& table, const QString& dateDelimiter,
                    const QString& stdTime, const QString& source, const QString& type,
                    const QString& data) {
    const QChar apostrophe = u'\'';
    const QChar quote = u'"';
    static const QString quoteText = QStringLiteral("\"");
    static const QString separators[] = {QStringLiteral(",'"), QStringLiteral("','"),
                                         QStringLiteral("','")};
    static const QString names[] = {QStringLiteral(" AS Q2,"), QStringLiteral(" AS Q3,"),
                                    QStringLiteral(" AS Q4")};
    const QString* texts[] = {&source, &type, &data};
    FastString s;
    s.Add(QStringLiteral("INSERT INTO "));
    s.Add(table);
    s.Add(QStringLiteral(" (SampleDate,Source,Category,Data) "));
    s.Add(useSql ? QStringLiteral("VALUES (") : QStringLiteral("SELECT "));
    s.Add(dateDelimiter);
    s.Add(stdTime);
    s.Add(dateDelimiter);
    if (useSql) {
        // Apostrophes delimit the texts: each one inside a text becomes a double quote.
        for (int i = 0; i < 3; ++i) {
            s.Add(separators[i]);
            s.Add(QString(*texts[i]).replace(apostrophe, quote));
        }
        s.Add(QStringLiteral("')"));
    } else {
        // Double quotes delimit the texts: each one inside a text becomes an apostrophe.
        s.Add(QStringLiteral(" AS Q1,"));
        for (int i = 0; i < 3; ++i) {
            s.Add(quoteText);
            s.Add(QString(*texts[i]).replace(quote, apostrophe));
            s.Add(quoteText);
            s.Add(names[i]);
        }
    }
    return s.Value();
}

QString historyQuery(const QString& table, const QString& sourceFilter,
                     const QString& categoryFilter, const QString& dataFilter,
                     const QString& wildcard, const QString& dateDelimiter, const QString& since) {
    QString w;
    auto join = [&w]() -> QString {
        return w.isEmpty() ? QStringLiteral(" WHERE") : w + QStringLiteral(" AND");
    };
    if (!sourceFilter.isEmpty()) {
        w = QStringLiteral(" WHERE Source Like '") + wildcard + sourceFilter + wildcard + u'\'';
    }
    if (!categoryFilter.isEmpty()) {
        w = join() + QStringLiteral(" Category like '") + wildcard + categoryFilter + wildcard +
            u'\'';
    }
    if (!dataFilter.isEmpty()) {
        w = join() + QStringLiteral(" Data like '") + wildcard + dataFilter + wildcard + u'\'';
    }
    w = join() + QStringLiteral(" SampleDate >") + dateDelimiter + since + dateDelimiter;
    return QStringLiteral("SELECT * FROM ") + table + w + QStringLiteral(" ORDER BY SampleDate");
}

}  // namespace SqlTexts
