#include "logger/db/DbConnection.h"

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
    return m_provider->execute(sql);
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
