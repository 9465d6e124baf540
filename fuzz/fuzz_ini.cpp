// The settings reader: any file text loads; every section and key it lists can be read back, and
// reads the same from the text a save would write; a value written reads back as written, under
// any letter case, and is gone once removed.
#include <algorithm>

#include "FuzzInput.h"
#include "settings/IniFile.h"

namespace {

bool isAscii(const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzInput::text(data, size);
    IniFile ini = IniFile::fromText(text);
    const QString absent = QStringLiteral("\x01absent");
    const IniFile saved = IniFile::fromText(ini.text());
    for (const QString& section : ini.sections()) {
        for (const QString& key : ini.keys(section)) {
            if (ini.read(section, key, absent) != saved.read(section, key, absent)) {
                FuzzInput::fail("a saved value reads back", section + u'\n' + key);
            }
        }
    }
    ini.read(QStringLiteral("Quilljot"), QStringLiteral("UseSQL"), QStringLiteral("0"));

    // The input's first line names a section, its second a key.
    const auto [section, rest] = FuzzInput::split(text);
    const QString key = FuzzInput::split(rest).first;
    if (key.isEmpty() || key.contains(u'~') || section.contains(u'~')) {
        return 0;
    }
    ini.write(section, key, QStringLiteral("v"));
    // Case is mapped one to one only in plain ASCII.
    const bool ascii = isAscii(section) && isAscii(key);
    if (ini.read(ascii ? section.toLower() : section, ascii ? key.toUpper() : key, absent) !=
        u"v") {
        FuzzInput::fail("a written value reads back", section + u'\n' + key);
    }
    ini.remove(section, key);
    if (ini.read(section, key, absent) != absent) {
        FuzzInput::fail("a removed value is gone", section + u'\n' + key);
    }
    return 0;
}
