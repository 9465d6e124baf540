#pragma once

#include <QList>
#include <QString>

#include "PostgresServer.h"
#include "TestFiles.h"
#include "settings/LoggerSettings.h"

// The database engines that can be tested here: the file database always, PostgreSQL on a private
// server when its programs are installed, SQL Server when QUILLJOT_TEST_MSSQL holds a connection
// string such as
//   Provider = sqloledb; Data Source =localhost,1433; User ID=sa; Password=...; Initial
//   Catalog=QuilljotTest
struct TestEngine {
    QString name;
    DatabaseSettings settings;
    QChar storedQuote[2];  // a quote of the texts and what the engine stores for it
};

inline QList<TestEngine> testEngines(const QString& folder, const QString& table,
                                     const PostgresServer& pg) {
    QList<TestEngine> out;
    out.append(TestEngine{QStringLiteral("file"),
                          DatabaseSettings{DatabaseKind::File, QString(),
                                           folder + QStringLiteral("/Data/events.mdb"), table},
                          {u'"', u'\''}});
    if (pg.running()) {
        out.append(TestEngine{QStringLiteral("postgresql"),
                              pg.settings(QStringLiteral("quilljot_store"), table),
                              {u'"', u'"'}});
    }
    const QString ado = qEnvironmentVariable("QUILLJOT_TEST_MSSQL");
    if (!ado.isEmpty()) {
        QString catalog;
        for (const QString& part : ado.split(u';')) {
            if (part.trimmed().startsWith(QStringLiteral("Initial Catalog"), Qt::CaseInsensitive)) {
                catalog = part.mid(part.indexOf(u'=') + 1).trimmed();
            }
        }
        out.append(TestEngine{QStringLiteral("sqlserver"),
                              DatabaseSettings{DatabaseKind::SqlServer, ado, catalog, table},
                              {u'\'', u'"'}});
    }
    return out;
}

// Points the logger of the application folder `app` at the database `d`, in its settings file.
inline bool useDatabase(const QString& app, const DatabaseSettings& d) {
    return writeFile(app + QStringLiteral("/Config/zelXapQuilljot.ini"),
                     "[QUILLJOT]\nENGINE=" + SettingRules::engineName(d.kind).toUtf8() +
                         "\nSQLSOURCE=" + d.sqlSource.toUtf8() + "\nDATABASE=" +
                         d.database.toUtf8() + "\nDATABASETABLE=" + d.table.toUtf8() + "\n");
}
