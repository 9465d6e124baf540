#include "support/Hs.h"

#include <QFileInfo>

#include "support/IniTool.h"
#include "support/PathRules.h"
#include "support/XapGlobal.h"

QString Hs::configPath(const QString& file) const {
    return PathRules::join(PathRules::join(m_global.AppPath, QStringLiteral("Config")), file);
}

QString Hs::GetINISetting(const QString& Group, const QString& Key, const QString& Default,
                          const QString& File) {
    const QString path = configPath(File.isEmpty() ? QStringLiteral("settings.ini") : File);
    // A link to nowhere is not a missing file: Load says what is wrong with it.
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        return Default;
    }
    IniTool ini(m_global);
    ini.Load(path);
    return ini.Read(Group, Key, Default);
}

void Hs::SaveIniSetting(const QString& Group, const QString& Key, const QString& Value,
                        const QString& File) {
    IniTool ini(m_global);
    ini.Load(configPath(File));
    ini.WriteKey(Group, Key, Value);
    ini.Save();
}
