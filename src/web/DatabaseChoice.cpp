#include "web/DatabaseChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

// The columns of the logger's event table, in the order the store makes them.
const QStringList kEventColumns = {QStringLiteral("ID"), QStringLiteral("SampleDate"),
                                   QStringLiteral("Source"), QStringLiteral("Category"),
                                   QStringLiteral("Data")};

Problem refused(const QString& text) {
    return Problem{ErrorKind::Settings, text};
}

QStringList columnsOf(QSqlDatabase& db, const QString& table) {
    QSqlQuery query(db);
    QStringList columns;
    query.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"));
    query.addBindValue(table);
    if (query.exec()) {
        while (query.next()) {
            columns.append(query.value(0).toString());
        }
    }
    return columns;
}

bool sameColumns(const QStringList& columns) {
    if (columns.size() != kEventColumns.size()) {
        return false;
    }
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns[i].compare(kEventColumns[i], Qt::CaseInsensitive) != 0) {
            return false;
        }
    }
    return true;
}

// Reads the file's tables without changing it: read-only, and no journal or WAL is made.
Status checkFile(const QString& path, const QString& table) {
    const QString name =
        QStringLiteral("quilljot-choice-") + QUuid::createUuid().toString(QUuid::Id128);
    Status verdict;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            verdict = refused(QStringLiteral("Cannot read '") + path + QStringLiteral("': ") +
                              db.lastError().text());
        } else {
            QSqlQuery tables(db);
            QStringList names;
            if (!tables.exec(
                    QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"))) {
                verdict = refused(QStringLiteral("'") + path +
                                  QStringLiteral("' is not a SQLite database"));
            }
            while (tables.next()) {
                names.append(tables.value(0).toString());
            }
            const auto named = std::find_if(names.begin(), names.end(), [&](const QString& n) {
                return n.compare(table, Qt::CaseInsensitive) == 0;
            });
            const bool anyOfOurs = std::any_of(names.begin(), names.end(), [&](const QString& n) {
                return sameColumns(columnsOf(db, n));
            });
            if (!verdict) {
            } else if (named != names.end() && !sameColumns(columnsOf(db, *named))) {
                verdict =
                    refused(QStringLiteral("The table ") + table + QStringLiteral(" in '") + path +
                            QStringLiteral("' has columns that are not the logger's (") +
                            columnsOf(db, *named).join(QStringLiteral(", ")) +
                            QStringLiteral("): choose another table name"));
            } else if (!names.isEmpty() && !anyOfOurs) {
                verdict = refused(
                    QStringLiteral("'") + path +
                    QStringLiteral("' holds another program's tables, not the logger's: choose "
                                   "another file name"));
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return verdict;
}

}  // namespace

namespace DatabaseChoice {

Status check(const DatabaseSettings& next, const DatabaseSettings& current,
             const AppFolders& folders) {
    if (next.table.startsWith(QStringLiteral("sqlite_"), Qt::CaseInsensitive)) {
        return refused(QStringLiteral("Table names beginning with sqlite_ are SQLite's own"));
    }
    if (next.kind != DatabaseKind::File) {
        return {};
    }
    const QString& database = next.database;
    if (database.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive) ||
        database.contains(u'?')) {
        return refused(QStringLiteral("Database must be a file name, not a URI (file:...)"));
    }
    // SQLite keeps a database's journal and write-ahead log beside it under these endings, and
    // takes a hot journal it finds there as its own: logging into one loses the database's rows.
    for (const QLatin1StringView side :
         {QLatin1StringView("-journal"), QLatin1StringView("-wal"), QLatin1StringView("-shm")}) {
        if (database.endsWith(side, Qt::CaseInsensitive)) {
            return refused(QStringLiteral("A name ending in ") + side +
                           QStringLiteral(" is the name SQLite gives a database's side file: "
                                          "choose another file name"));
        }
    }
    const bool samePlace = current.kind == DatabaseKind::File && database == current.database;
    const QString path = QFileInfo(folders.resolve(database)).absoluteFilePath();
    if (!samePlace) {
        const QString data = QFileInfo(folders.dataFolder()).canonicalFilePath();
        const QFileInfo file(path);
        if (data.isEmpty() || file.dir().canonicalPath() != data || file.isSymLink() ||
            (file.exists() && !file.isFile())) {
            return refused(
                QStringLiteral(
                    "A database file chosen on the web page must be in the Data folder (") +
                folders.dataFolder() +
                QStringLiteral("); name one elsewhere in the settings file"));
        }
    }
    if (samePlace && next.table == current.table) {
        return {};
    }
    if (!QFileInfo(path).exists() || QFileInfo(path).size() == 0) {
        return {};
    }
    return checkFile(path, next.table);
}

}  // namespace DatabaseChoice
