// The file-database tokenizer: a statement either converts both ways or is refused both ways,
// and a converted shape holds exactly one parameter per literal it took out.
#include "FuzzInput.h"
#include "logger/db/FileDialect.h"
#include "support/Failure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString statement = FuzzInput::text(data, size);
    bool converted = true;
    try {
        FileDialect::toSqlite(statement);
    } catch (const Failure&) {
        converted = false;
    }
    bool parameterized = true;
    try {
        const FileDialect::Parameterized p = FileDialect::parameterize(statement);
        qsizetype total = 0;
        for (const auto& value : p.values) {
            total += value.text().count(u'\0');  // reads every view: each points into live text
        }
        Q_UNUSED(total);
        if (p.values.size() > p.shape.count(u'?')) {
            FuzzInput::fail("one parameter per literal", statement + u'\n' + p.shape);
        }
    } catch (const Failure&) {
        parameterized = false;
    }
    if (converted != parameterized) {
        FuzzInput::fail("both conversions agree on what is a valid statement", statement);
    }
    return 0;
}
