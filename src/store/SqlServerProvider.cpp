#include "store/SqlServerProvider.h"

#include <QFileInfo>
#include <QSqlError>
#include <QVariant>

namespace {

// SQL Server stores an apostrophe inside a text as a double quote.
QString storedText(const QString& text) {
    return text.contains(u'\'') ? QString(text).replace(u'\'', u'"') : text;
}

}  // namespace

SqlServerProvider::SqlServerProvider(DatabaseSettings settings)
    : StoreProvider(std::move(settings)), m_source(ServerSource::parse(m_settings.sqlSource)) {}

QString SqlServerProvider::driverName() {
    const char* const candidates[] = {
        "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
        "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
        "/usr/lib/odbc/libtdsodbc.so",
    };
    for (const char* path : candidates) {
        if (QFileInfo::exists(QString::fromLatin1(path))) {
            return QString::fromLatin1(path);
        }
    }
    return QStringLiteral("FreeTDS");
}

QString SqlServerProvider::odbcText(const ServerSource& source, const QString& catalog,
                                    const QString& driver) {
    // FreeTDS mishandles "host,port" inside SERVER; the port goes into a key of its own.
    QString out =
        QStringLiteral("DRIVER={") + driver + QStringLiteral("};SERVER=") + source.host + u';';
    if (!source.port.isEmpty()) {
        out += QStringLiteral("PORT=") + source.port + u';';
    }
    if (!catalog.isEmpty()) {
        out += QStringLiteral("DATABASE=") + catalog + u';';
    }
    if (!source.userId.isEmpty()) {
        out += QStringLiteral("UID=") + source.userId + QStringLiteral(";PWD={") +
               QString(source.password).replace(u'}', QStringLiteral("}}")) + QStringLiteral("};");
    } else {
        out += QStringLiteral("Trusted_Connection=Yes;");
    }
    out += QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;");
    return out;
}

Problem SqlServerProvider::failure(const QString& text) const {
    return Problem{ErrorNumber::Database, m_source.redact(text)};
}

Status SqlServerProvider::connect(const QString& catalog) {
    m_insert.reset();
    if (const Status added = addConnection(QStringLiteral("QODBC")); !added) {
        return added;
    }
    m_db.setDatabaseName(odbcText(m_source, catalog, driverName()));
    if (!m_db.open()) {
        // The message names the server, never the password.
        return failure(QStringLiteral("Cannot connect to SQL Server ") + m_source.host +
                       (m_source.port.isEmpty() ? QString() : u',' + m_source.port) + u": " +
                       m_db.lastError().text());
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // Times are written as "yyyy-mm-dd hh:mm:ss"; this keeps that meaning under every login
    // language. Text values above about 64 KB read back empty through this driver stack; the
    // server cuts what it returns of a text column at this size instead.
    for (const QString& setting :
         {QStringLiteral("SET DATEFORMAT ymd"), QStringLiteral("SET TEXTSIZE 60000")}) {
        if (!q.exec(setting)) {
            return failure(q.lastError().text());
        }
    }
    return {};
}

Status SqlServerProvider::createDatabaseIfMissing() {
    if (connect(m_settings.database)) {
        removeConnection();
        return {};
    }
    // A connection to the instance that does not name the missing catalog.
    if (const Status server = connect(QStringLiteral("master")); !server) {
        removeConnection();
        return server.problem().atStep(3);
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    const bool made = q.exec(QStringLiteral("CREATE DATABASE ") + m_settings.database);
    const Status result = made ? Status() : Status(failure(q.lastError().text()).atStep(3));
    removeConnection();
    return result;
}

Status SqlServerProvider::open() {
    return connect(m_settings.database);
}

void SqlServerProvider::ensureTable() {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES "
                              "WHERE TABLE_TYPE = 'BASE TABLE'"))) {
        while (q.next()) {
            if (q.value(0).toString().compare(m_settings.table, Qt::CaseInsensitive) == 0) {
                return;
            }
        }
    }
    const QString& t = m_settings.table;
    q.exec(QStringLiteral("CREATE TABLE ") + t +
           QStringLiteral(" (ID int IDENTITY(1,1), SampleDate[datetime] NOT NULL, "
                          "Source varchar(255)  NULL, Category varchar(255) NULL, "
                          "Data text NULL) "));
    q.exec(QStringLiteral("ALTER TABLE ") + t +
           QStringLiteral(" WITH NOCHECK ADD CONSTRAINT [PK_") + t +
           QStringLiteral("] PRIMARY KEY NONCLUSTERED (ID)"));
}

Status SqlServerProvider::insert(const LogEvent& event) {
    if (!m_insert) {
        m_insert.emplace(m_db);
        m_insert->setForwardOnly(true);
        if (!m_insert->prepare(QStringLiteral("INSERT INTO ") + m_settings.table +
                               QStringLiteral(" (SampleDate,Source,Category,Data) "
                                              "VALUES (?,?,?,?)"))) {
            const Problem p = failure(m_insert->lastError().text());
            m_insert.reset();
            return p;
        }
    }
    m_insert->bindValue(0, event.time);
    m_insert->bindValue(1, storedText(event.source));
    m_insert->bindValue(2, storedText(event.type));
    m_insert->bindValue(3, storedText(event.data));
    if (!m_insert->exec()) {
        return failure(m_insert->lastError().text());
    }
    return {};
}

Status SqlServerProvider::readHistory(const HistoryFilter& filter, const RowVisitor& visit) {
    return queryHistory(m_settings.table, filter, visit);
}
