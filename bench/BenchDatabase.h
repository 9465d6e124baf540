#pragma once

#include <QStringList>

#include "settings/LoggerSettings.h"

// The database a benchmark program names on its command line after its verb:
// `file PATH` or `postgresql SQLSOURCE DATABASE`, always the table tblQuilljot.
inline DatabaseSettings benchDatabase(const QStringList& args) {
    DatabaseSettings settings;
    settings.table = QStringLiteral("tblQuilljot");
    if (args[2] == u"postgresql") {
        settings.kind = DatabaseKind::PostgreSql;
        settings.sqlSource = args.value(3);
        settings.database = args.value(4);
    } else {
        settings.database = args[3];
    }
    return settings;
}
