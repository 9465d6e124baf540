#pragma once

#include <QString>

// Turns a statement written in the file-database dialect (text literals between double quotes,
// dates between "#", INSERT ... SELECT without FROM) into SQLite SQL. A tokenizer walks the
// statement and knows where every literal starts and ends, so a "#", a quote, "--" or a keyword
// inside a literal stays text. Date literals become 'yyyy-MM-dd HH:mm:ss' text, the form the log
// table stores, so that dates compare and sort as text. Throws Failure on an unterminated literal.
namespace FileDialect {

QString toSqlite(const QString& statement);

}  // namespace FileDialect
