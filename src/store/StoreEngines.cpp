#include "store/StoreEngines.h"

#include "store/PostgresProvider.h"
#include "store/SqlServerProvider.h"
#include "store/SqliteProvider.h"

std::unique_ptr<StoreProvider> StoreEngines::forSettings(const DatabaseSettings& settings) {
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
