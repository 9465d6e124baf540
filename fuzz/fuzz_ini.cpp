// The settings loader: any file text loads, and every header and key it lists can be read back.
#include <QTemporaryDir>

#include "FuzzInput.h"
#include "support/Failure.h"
#include "support/IniTool.h"
#include "support/XapGlobal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XapGlobal global;
    IniTool ini(global);
    ini.LoadText(FuzzInput::text(data, size));
    for (const QString& header : ini.Headers()) {
        QStringList keys;
        try {
            keys = ini.Keys(header);  // the header is a pattern: a bad one is refused, not fatal
        } catch (const Failure&) {
            continue;
        }
        for (const QString& key : keys) {
            ini.Read(header, key, QString());
        }
    }
    ini.Read(QStringLiteral("Quilljot"), QStringLiteral("UseSQL"), QStringLiteral("0"));
    return 0;
}
