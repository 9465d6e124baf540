#include "store/SqliteStatement.h"

#include <sqlite3.h>

void SqliteFinalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}
