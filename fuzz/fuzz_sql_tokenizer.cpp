// The file-database tokenizer: a statement either converts both ways or is refused both ways,
// and where SQLite accepts the converted shape it finds exactly one parameter per literal the
// tokenizer took out (a literal misread as SQL, or SQL misread as a literal, changes the count).
#include <sqlite3.h>

#include "FuzzInput.h"
#include "logger/db/FileDialect.h"
#include "support/Failure.h"

namespace {

sqlite3* database() {
    static sqlite3* db = [] {
        sqlite3* d = nullptr;
        sqlite3_open(":memory:", &d);
        sqlite3_exec(d,
                     "CREATE TABLE T (ID INTEGER PRIMARY KEY, SampleDate, Source, Category, Data)",
                     nullptr, nullptr, nullptr);
        return d;
    }();
    return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString statement = FuzzInput::text(data, size);
    bool converted = true;
    try {
        FileDialect::toSqlite(statement);
    } catch (const Failure&) {
        converted = false;
    }
    FileDialect::Parameterized p;
    bool parameterized = true;
    try {
        p = FileDialect::parameterize(statement);
    } catch (const Failure&) {
        parameterized = false;
    }
    if (converted != parameterized) {
        FuzzInput::fail("both conversions agree on what is a valid statement", statement);
    }
    // Parameters of SQLite's own syntax would add to the count: none may stand in the input,
    // nor (dates hold colons) in what is left of it once the literals are out.
    if (!parameterized || statement.contains(u'?') || statement.contains(u'@') ||
        statement.contains(u'$') || statement.contains(QChar(0)) || p.shape.contains(u':')) {
        return 0;
    }
    const QByteArray shape = p.shape.toUtf8();
    sqlite3_stmt* plan = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(database(), shape.constData(), int(shape.size()), &plan, &tail) ==
            SQLITE_OK &&
        plan != nullptr) {
        // Only the first statement is compiled: count the literals that stand in it.
        const bool whole = tail == nullptr || QByteArray(tail).trimmed().isEmpty();
        if (whole && sqlite3_bind_parameter_count(plan) != p.values.size()) {
            sqlite3_finalize(plan);
            FuzzInput::fail("SQLite sees one parameter per literal", statement + u'\n' + p.shape);
        }
    }
    sqlite3_finalize(plan);
    return 0;
}
