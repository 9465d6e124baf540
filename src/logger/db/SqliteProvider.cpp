#include "logger/db/SqliteProvider.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include "logger/db/FileDialect.h"
#include "support/Failure.h"

namespace {
constexpr char kSqliteMagic[] = "SQLite format 3";  // followed by a NUL: 16 bytes
}

void SqliteProvider::refuseForeignFile() const {
    const QString& path = m_cs.dataSource;
    QFile file(path);
    if (!file.exists() || file.size() == 0) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw Failure(ErrorNumber::Database, QStringLiteral("Cannot read database file ") + path +
                                                 u": " + file.errorString());
    }
    const QByteArray head = file.read(16);
    if (head != QByteArray(kSqliteMagic, 16)) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("The file ") + path +
                          QStringLiteral(" is not a SQLite database; Quilljot leaves it untouched. "
                                         "Name another file in the Database setting."));
    }
}

void SqliteProvider::openFile() {
    refuseForeignFile();
    addDatabase(QStringLiteral("QSQLITE"));
    m_db.setDatabaseName(m_cs.dataSource);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_db.open()) {
        throw Failure(ErrorNumber::Database, QStringLiteral("Cannot open database ") +
                                                 m_cs.dataSource + u": " + m_db.lastError().text());
    }
    run(QStringLiteral("PRAGMA journal_mode=WAL"));
    run(QStringLiteral("PRAGMA synchronous=NORMAL"));
}

void SqliteProvider::open() {
    if (m_cs.dataSource.isEmpty()) {
        throw Failure(ErrorNumber::Database, QStringLiteral("No database file named"));
    }
    if (!QFileInfo(m_cs.dataSource).isFile()) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Could not find file '") + m_cs.dataSource + u'\'');
    }
    openFile();
}

void SqliteProvider::createDatabase() {
    if (QFileInfo::exists(m_cs.dataSource)) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Database already exists: ") + m_cs.dataSource);
    }
    openFile();  // WAL mode writes the header, so the new file is a database at once
    close();
}

void SqliteProvider::run(const QString& sql) {
    QSqlQuery q(m_db);
    if (!q.exec(sql)) {
        throw Failure(ErrorNumber::Database, q.lastError().text() + QStringLiteral(" in: ") + sql);
    }
}

QString SqliteProvider::toNative(const QString& statement) const {
    return FileDialect::toSqlite(statement);
}

QStringList SqliteProvider::tableNames() {
    return m_db.tables(QSql::Tables);
}

void SqliteProvider::createLogTable(const QString& table) {
    QString quoted = table;
    quoted.replace(u'"', QStringLiteral("\"\""));
    run(QStringLiteral("CREATE TABLE \"") + quoted +
        QStringLiteral("\" (ID INTEGER CONSTRAINT PrimaryKey PRIMARY KEY AUTOINCREMENT, "
                       "SampleDate DATETIME, Source VARCHAR(255), Category VARCHAR(255), "
                       "Data TEXT)"));
}

void SqliteProvider::beginBatch() {
    if (!m_batch && m_db.isOpen()) {
        run(QStringLiteral("BEGIN"));
        m_batch = true;
    }
}

void SqliteProvider::endBatch() {
    if (m_batch) {
        m_batch = false;
        run(QStringLiteral("COMMIT"));
    }
}
