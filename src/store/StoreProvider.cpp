#include "store/StoreProvider.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <atomic>

#include "support/DateText.h"

#include "store/PostgresProvider.h"
#include "store/SqlServerProvider.h"
#include "store/SqliteProvider.h"

StoreProvider::~StoreProvider() {
    removeConnection();
}

Status StoreProvider::addConnection(const QString& driver) {
    static std::atomic<int> counter{0};
    removeConnection();
    m_connectionName = QStringLiteral("quilljot-") + QString::number(++counter);
    m_db = QSqlDatabase::addDatabase(driver, m_connectionName);
    if (!m_db.isValid()) {
        return Problem{ErrorNumber::Database,
                       QStringLiteral("The Qt SQL driver ") + driver +
                           QStringLiteral(" is not installed (see the README's dependencies)")};
    }
    return {};
}

void StoreProvider::removeConnection() {
    if (m_connectionName.isEmpty()) {
        return;
    }
    if (m_db.isOpen()) {
        m_db.close();
    }
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

std::unique_ptr<StoreProvider> StoreProvider::forSettings(const DatabaseSettings& settings) {
    switch (settings.kind) {
        case DatabaseKind::SqlServer:
            return std::make_unique<SqlServerProvider>(settings);
        case DatabaseKind::PostgreSql:
            return std::make_unique<PostgresProvider>(settings);
        case DatabaseKind::File:
            break;
    }
    return std::make_unique<SqliteProvider>(settings);
}

QString StoreProvider::timeText(const QVariant& stored) const {
    // Servers return their date-time columns as such.
    if (stored.typeId() == QMetaType::QDateTime) {
        return DateText::isoText(stored.toDateTime());
    }
    const QString text = stored.toString();
    return DateText::normalize(text).value_or(text);
}

Problem StoreProvider::failure(const QString& text) const {
    return Problem{ErrorNumber::Database, text};
}

Status StoreProvider::queryHistory(const QString& table, const HistoryFilter& filter,
                                   const RowVisitor& visit) {
    QString sql = QStringLiteral("SELECT ID, SampleDate, Source, Category, Data FROM ") + table +
                  QStringLiteral(" WHERE");
    QStringList values;
    const std::pair<const char16_t*, const QString*> filters[] = {
        {u"Source", &filter.source}, {u"Category", &filter.type}, {u"Data", &filter.data}};
    for (const auto& [column, text] : filters) {
        if (!text->isEmpty()) {
            sql += u' ' + QString::fromUtf16(column) + u' ' + likeOperator() +
                   QStringLiteral(" ? AND");
            values.append(u'%' + *text + u'%');
        }
    }
    sql += QStringLiteral(" SampleDate > ? ORDER BY SampleDate");
    values.append(filter.since);
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    for (qsizetype i = 0; ok && i < values.size(); ++i) {
        q.bindValue(int(i), values[i]);
    }
    if (!ok || !q.exec()) {
        return failure(q.lastError().text());
    }
    while (q.next()) {
        visit(StoredEvent{q.value(0).toLongLong(),
                          LogEvent{timeText(q.value(1)), q.value(2).toString(),
                                   q.value(3).toString(), q.value(4).toString()}});
    }
    return {};
}
