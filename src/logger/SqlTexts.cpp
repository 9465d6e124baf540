#include "logger/SqlTexts.h"

#include "message/FastString.h"

namespace SqlTexts {

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
    FastString s;
    s.Add(QStringLiteral("INSERT INTO "));
    s.Add(table);
    s.Add(QStringLiteral(" (SampleDate,Source,Category,Data) "));
    if (useSql) {
        s.Add(QStringLiteral("VALUES ("));
        s.Add(dateDelimiter);
        s.Add(stdTime);
        s.Add(dateDelimiter);
        s.Add(QStringLiteral(",'"));
        s.Add(QString(source).replace(apostrophe, quote));
        s.Add(QStringLiteral("','"));
        s.Add(QString(type).replace(apostrophe, quote));
        s.Add(QStringLiteral("','"));
        s.Add(QString(data).replace(apostrophe, quote));
        s.Add(QStringLiteral("')"));
    } else {
        s.Add(QStringLiteral("SELECT "));
        s.Add(dateDelimiter);
        s.Add(stdTime);
        s.Add(dateDelimiter);
        s.Add(QStringLiteral(" AS Q1,"));
        s.Add(quoteText);
        s.Add(QString(source).replace(quote, apostrophe));
        s.Add(quoteText);
        s.Add(QStringLiteral(" AS Q2,"));
        s.Add(quoteText);
        s.Add(QString(type).replace(quote, apostrophe));
        s.Add(quoteText);
        s.Add(QStringLiteral(" AS Q3,"));
        s.Add(quoteText);
        s.Add(QString(data).replace(quote, apostrophe));
        s.Add(quoteText);
        s.Add(QStringLiteral(" AS Q4"));
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
