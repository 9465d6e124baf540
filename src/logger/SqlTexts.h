#pragma once

#include <QString>

// The SQL texts the logger sends, character for character. Statements for the file database are
// written in its dialect (double-quoted text, dates between "#"); the connection translates them.
//
// What keeps each outside text from adding to a statement:
//   source, type, data of a received event   the quote replacement of insertEvent
//   event time                               rewritten by StdTime into digits, or "now"
//   table name, SQL Server catalog name      settings refused unless isPlainName
//   history filters                          refused when they hold an apostrophe (checkFilter)
namespace SqlTexts {

// A name that can stand in a statement as it is: a letter or "_", then letters, digits and "_",
// at most 128 characters.
bool isPlainName(const QString& name);
// Throws Failure when the filter text could end the LIKE pattern it is put into.
void checkFilter(const QString& filter);

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
