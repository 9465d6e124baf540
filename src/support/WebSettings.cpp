#include "support/WebSettings.h"

#include "support/IniFile.h"
#include "support/ProgramNames.h"

namespace {

const QString kPort = QStringLiteral("WebPort");
const QString kBind = QStringLiteral("WebBind");
const QString kPasswordHash = QStringLiteral("WebPasswordHash");

QString settingsPath(const AppFolders& folders) {
    return folders.configFile(ProgramNames::kLoggerSettingsFile);
}

}  // namespace

namespace WebSettingsFile {

Result<WebSettings> load(const AppFolders& folders) {
    Result<IniFile> ini = IniFile::load(settingsPath(folders));
    if (!ini) {
        // The logger reports a settings file it cannot read; the page then has its defaults
        // (no password, so loopback only).
        return WebSettings{};
    }
    WebSettings web;
    const QString section = ProgramNames::kLoggerSection;
    const QString port = ini.value().read(section, kPort, QStringLiteral("0")).trimmed();
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number > 65535) {
        return Problem{ErrorNumber::Settings,
                       QStringLiteral("WebPort must be a TCP port from 0 (off) to 65535, not '") +
                           port + u'\'',
                       1};
    }
    web.port = quint16(number);
    web.bind = ini.value().read(section, kBind, web.bind).trimmed();
    web.passwordHash = ini.value().read(section, kPasswordHash, QString()).trimmed();
    return web;
}

Status savePasswordHash(const AppFolders& folders, const QString& hash) {
    Result<IniFile> ini = IniFile::load(settingsPath(folders));
    if (!ini) {
        return ini.problem();
    }
    ini.value().write(ProgramNames::kLoggerSection, kPasswordHash, hash);
    return ini.value().save(IniFile::Access::OwnerOnly);
}

}  // namespace WebSettingsFile
