#include "logger/db/SqliteProvider.h"

#include <sqlite3.h>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVarLengthArray>

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
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("The SQLite driver gives no handle for ") + m_cs.dataSource);
    }
    m_handle = *static_cast<sqlite3* const*>(handle.constData());
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
    releaseStatements();
    close();
}

SqliteProvider::~SqliteProvider() {
    releaseStatements();
}

void SqliteProvider::releaseStatements() {
    for (sqlite3_stmt* plan : std::as_const(m_plans)) {
        sqlite3_finalize(plan);
    }
    m_plans.clear();
}

QString SqliteProvider::lastError() const {
    return QString::fromUtf16(static_cast<const char16_t*>(sqlite3_errmsg16(m_handle)));
}

sqlite3_stmt* SqliteProvider::prepared(const QString& shape) {
    if (sqlite3_stmt* plan = m_plans.value(shape, nullptr)) {
        return plan;
    }
    if (m_plans.size() >= kMaxPlans) {
        for (sqlite3_stmt* plan : std::as_const(m_plans)) {
            sqlite3_finalize(plan);
        }
        m_plans.clear();
    }
    sqlite3_stmt* plan = nullptr;
    if (sqlite3_prepare16_v3(m_handle, shape.utf16(), int(shape.size() * sizeof(char16_t)),
                             SQLITE_PREPARE_PERSISTENT, &plan, nullptr) != SQLITE_OK) {
        sqlite3_finalize(plan);
        throw Failure(ErrorNumber::Database, lastError());
    }
    m_plans.insert(shape, plan);
    return plan;
}

bool SqliteProvider::step(sqlite3_stmt* plan) {
    int rc = sqlite3_step(plan);
    while (rc == SQLITE_ROW) {
        rc = sqlite3_step(plan);
    }
    sqlite3_reset(plan);
    return rc == SQLITE_DONE;
}

RecordSet SqliteProvider::execute(const QString& statement) {
    const FileDialect::Parameterized p = FileDialect::parameterize(statement);
    if (QStringView(p.shape).trimmed().startsWith(u"SELECT", Qt::CaseInsensitive)) {
        auto query = std::make_shared<QSqlQuery>(m_db);
        query->setForwardOnly(true);
        bool ok = query->prepare(p.shape);
        for (qsizetype i = 0; ok && i < p.values.size(); ++i) {
            query->bindValue(int(i), p.values[i].text().toString());
        }
        if (!ok || !query->exec()) {
            throw Failure(ErrorNumber::Database,
                          query->lastError().text() + QStringLiteral(" in: ") + statement);
        }
        return RecordSet(std::move(query));
    }
    sqlite3_stmt* plan = nullptr;
    try {
        plan = prepared(p.shape);
    } catch (const Failure& f) {
        throw Failure(ErrorNumber::Database, f.description() + QStringLiteral(" in: ") + statement);
    }
    // The database keeps its text as UTF-8: converting here is cheaper than inside SQLite.
    QVarLengthArray<QByteArray, 8> utf8;
    for (qsizetype i = 0; i < p.values.size(); ++i) {
        utf8.append(p.values[i].text().toUtf8());
        sqlite3_bind_text(plan, int(i + 1), utf8.back().constData(), int(utf8.back().size()),
                          SQLITE_STATIC);
    }
    // Inside a batch each statement is its own unit: SQLite undoes a refused statement alone and
    // keeps the transaction, so its neighbours stay (a savepoint per statement would add two
    // statements per event and protect nothing more). Only a failure that makes SQLite abandon
    // the whole transaction (a full disk, an I/O error) ends the batch; a new one is begun.
    const bool ok = step(plan);
    const QString error = ok ? QString() : lastError();
    sqlite3_clear_bindings(plan);
    if (!ok) {
        if (m_batch && sqlite3_get_autocommit(m_handle) != 0) {
            m_batch = false;
            beginBatch();
        }
        throw Failure(ErrorNumber::Database, error + QStringLiteral(" in: ") + statement);
    }
    return RecordSet();
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
