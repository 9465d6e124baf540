#pragma once

#include <memory>

struct sqlite3_stmt;

// A prepared SQLite statement that is finalized when it goes, on every path.
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* statement) const;
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;
