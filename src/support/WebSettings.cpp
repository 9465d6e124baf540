#include "support/WebSettings.h"

#include "report/ReportSteps.h"
#include "support/IniFile.h"
#include "support/ProgramNames.h"

namespace {

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
    const QString port = SettingKeys::read(ini.value(), Setting::WebPort).trimmed();
    if (const auto wrong = SettingKeys::wrongValue(Setting::WebPort, port)) {
        return Problem{ErrorKind::Settings, *wrong, ReportStep::WebPage::Port};
    }
    web.port = quint16(port.toUInt());
    web.bind = SettingKeys::read(ini.value(), Setting::WebBind).trimmed();
    if (const auto wrong = SettingKeys::wrongValue(Setting::WebBind, web.bind)) {
        return Problem{ErrorKind::Settings, *wrong, ReportStep::WebPage::Bind};
    }
    web.passwordHash = SettingKeys::read(ini.value(), Setting::WebPasswordHash).trimmed();
    return web;
}

Status savePasswordHash(const AppFolders& folders, const QString& hash) {
    Result<IniFile> ini = IniFile::load(settingsPath(folders));
    if (!ini) {
        return ini.problem();
    }
    SettingKeys::write(ini.value(), Setting::WebPasswordHash, hash);
    return ini.value().save(IniFile::Access::OwnerOnly);
}

}  // namespace WebSettingsFile
