#pragma once

#include <QList>
#include <QString>

// Turns a statement written in the file-database dialect (text literals between double quotes,
// dates between "#", INSERT ... SELECT without FROM) into SQLite SQL. A tokenizer walks the
// statement and knows where every literal starts and ends, so a "#", a quote, "--" or a keyword
// inside a literal stays text. Date literals become 'yyyy-MM-dd HH:mm:ss' text, the form the log
// table stores, so that dates compare and sort as text. Both throw Failure on an unterminated
// literal.
namespace FileDialect {

// The statement with every literal written as a SQLite literal.
QString toSqlite(const QString& statement);

// The statement with every literal replaced by a "?" parameter, and the literals' values in
// order: statements that differ only in their values share one shape, and so one prepared plan.
// A value is a view into the statement unless its text had to be changed (a doubled quote, a
// date brought into the stored form); the statement must outlive the result.
struct Parameterized {
    struct Value {
        QStringView view;
        QString owned;
        bool isOwned = false;
        QStringView text() const { return isOwned ? QStringView(owned) : view; }
    };
    QString shape;
    QList<Value> values;
};
Parameterized parameterize(const QString& statement);

}  // namespace FileDialect
