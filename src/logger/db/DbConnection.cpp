#include "logger/db/DbConnection.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include "logger/db/DbProvider.h"
#include "support/Failure.h"

DbConnection::DbConnection() = default;
DbConnection::~DbConnection() = default;

void DbConnection::Open(const QString& connectionString) {
    Close();
    auto provider = DbProvider::forConnectionString(connectionString);
    provider->open();
    m_provider = std::move(provider);
}

bool DbConnection::isOpen() const {
    return m_provider && m_provider->database().isOpen();
}

void DbConnection::Close() {
    m_provider.reset();
}

RecordSet DbConnection::execute(const QString& sql) {
    if (!isOpen()) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Operation is not allowed when the object is closed"));
    }
    const QString native = m_provider->toNative(sql);
    auto query = std::make_shared<QSqlQuery>(m_provider->database());
    query->setForwardOnly(true);
    const bool batch = m_provider->inBatch();
    if (batch) {
        query->exec(QStringLiteral("SAVEPOINT quilljot_statement"));
    }
    if (!query->exec(native)) {
        const QString error = query->lastError().text();
        if (batch) {
            QSqlQuery undo(m_provider->database());
            undo.exec(QStringLiteral("ROLLBACK TO quilljot_statement"));
            undo.exec(QStringLiteral("RELEASE quilljot_statement"));
        }
        throw Failure(ErrorNumber::Database, error + QStringLiteral(" in: ") + sql);
    }
    if (batch && !query->isSelect()) {
        QSqlQuery release(m_provider->database());
        release.exec(QStringLiteral("RELEASE quilljot_statement"));
    }
    return RecordSet(std::move(query));
}

void DbConnection::beginBatch() {
    if (isOpen()) {
        m_provider->beginBatch();
    }
}

void DbConnection::endBatch() {
    if (isOpen()) {
        m_provider->endBatch();
    }
}

namespace Catalog {

void Create(const QString& connectionString) {
    DbProvider::forConnectionString(connectionString)->createDatabase();
}

QStringList Tables(const QString& connectionString) {
    auto provider = DbProvider::forConnectionString(connectionString);
    provider->open();
    return provider->tableNames();
}

void AppendLogTable(const QString& connectionString, const QString& table) {
    auto provider = DbProvider::forConnectionString(connectionString);
    provider->open();
    provider->createLogTable(table);
}

}  // namespace Catalog
