#pragma once

#include <QString>

// The SQL texts the logger sends, character for character. Statements for the file database are
// written in its dialect (double-quoted text, dates between "#"); the connection translates them.
namespace SqlTexts {

QString createTable(const QString& table);
QString addPrimaryKey(const QString& table);
QString createDatabase(const QString& database);

// The row of one controller event; `stdTime` is the event time already formatted by StdTime.
// Quotes in the texts are replaced so that no value can end its literal early.
QString insertEvent(bool useSql, const QString& table, const QString& dateDelimiter,
                    const QString& stdTime, const QString& source, const QString& type,
                    const QString& data);

// The history query of the echo window: rows of the last seven days with optional filters.
QString historyQuery(const QString& table, const QString& sourceFilter,
                     const QString& categoryFilter, const QString& dataFilter,
                     const QString& wildcard, const QString& dateDelimiter, const QString& since);

}  // namespace SqlTexts
