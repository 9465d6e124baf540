#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

// What a statement returns on a SQLite file, read on a connection of the test's own (as another
// program would read it); nothing when the file cannot be opened.
inline QList<QStringList> sqliteRows(const QString& path, const QString& sql) {
    QList<QStringList> out;
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(sql);
            while (q.next()) {
                QStringList row;
                for (int i = 0; i < q.record().count(); ++i) {
                    row.append(q.value(i).toString());
                }
                out.append(row);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return out;
}
