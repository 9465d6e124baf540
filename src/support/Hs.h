#pragma once

#include <QString>

class XapGlobal;

// The settings facade: every read and write of an INI setting in the Config folder goes through
// here, on a fresh IniTool and the file on disk; nothing is cached between calls.
class Hs {
public:
    explicit Hs(XapGlobal& global) : m_global(global) {}

    QString GetINISetting(const QString& Group, const QString& Key, const QString& Default,
                          const QString& File);
    void SaveIniSetting(const QString& Group, const QString& Key, const QString& Value,
                        const QString& File);

    QString configPath(const QString& file) const;

private:
    XapGlobal& m_global;
};
