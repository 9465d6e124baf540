#include "web/DatabaseChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

// The columns of the logger's event table, in the order the store makes them.
const QStringList kEventColumns = {u"ID"_qs, u"SampleDate"_qs, u"Source"_qs, u"Category"_qs,
                                   u"Data"_qs};

Problem refused(const QString& text) {
    return Problem{ErrorNumber::Settings, text};
}

QStringList columnsOf(QSqlDatabase& db, const QString& table) {
    QSqlQuery query(db);
    QStringList columns;
    query.prepare(u"SELECT name FROM pragma_table_info(?)"_qs);
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
    const QString name = u"quilljot-choice-"_qs + QUuid::createUuid().toString(QUuid::Id128);
    Status verdict;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, name);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_qs);
        if (!db.open()) {
            verdict = refused(u"Cannot read '"_qs + path + u"': "_qs + db.lastError().text());
        } else {
            QSqlQuery tables(db);
            QStringList names;
            if (!tables.exec(u"SELECT name FROM sqlite_master WHERE type = 'table'"_qs)) {
                verdict = refused(u"'"_qs + path + u"' is not a SQLite database"_qs);
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
                verdict = refused(u"The table "_qs + table + u" in '"_qs + path +
                                  u"' has columns that are not the logger's ("_qs +
                                  columnsOf(db, *named).join(u", "_qs) +
                                  u"): choose another table name"_qs);
            } else if (!names.isEmpty() && !anyOfOurs) {
                verdict = refused(u"'"_qs + path +
                                  u"' holds another program's tables, not the logger's: choose "
                                  u"another file name"_qs);
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
    if (next.table.startsWith(u"sqlite_"_qs, Qt::CaseInsensitive)) {
        return refused(u"Table names beginning with sqlite_ are SQLite's own"_qs);
    }
    if (next.kind != DatabaseKind::File) {
        return {};
    }
    const QString& database = next.database;
    if (database.startsWith(u"file:"_qs, Qt::CaseInsensitive) || database.contains(u'?')) {
        return refused(u"Database must be a file name, not a URI (file:...)"_qs);
    }
    const bool samePlace = current.kind == DatabaseKind::File && database == current.database;
    const QString path = QFileInfo(folders.resolve(database)).absoluteFilePath();
    if (!samePlace) {
        const QString data = QFileInfo(folders.dataFolder()).canonicalFilePath();
        const QFileInfo file(path);
        if (data.isEmpty() || file.dir().canonicalPath() != data || file.isSymLink() ||
            (file.exists() && !file.isFile())) {
            return refused(
                u"A database file chosen on the web page must be in the Data folder ("_qs +
                folders.dataFolder() + u"); name one elsewhere in the settings file"_qs);
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
