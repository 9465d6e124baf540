#include "settings/WebSettings.h"

#include "report/ReportSteps.h"
#include "settings/IniFile.h"
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
    web.certFile = folders.resolve(SettingKeys::read(ini.value(), Setting::WebCertFile).trimmed());
    web.keyFile = folders.resolve(SettingKeys::read(ini.value(), Setting::WebKeyFile).trimmed());
    if (web.certFile.isEmpty() != web.keyFile.isEmpty()) {
        return Problem{ErrorKind::Settings,
                       QStringLiteral("WebCertFile and WebKeyFile go together: set both for HTTPS, "
                                      "or neither for plain HTTP"),
                       ReportStep::WebPage::Bind};
    }
    web.hostNames = SettingKeys::splitList(SettingKeys::read(ini.value(), Setting::WebHostNames));
    const QString proxies = SettingKeys::read(ini.value(), Setting::WebTrustedProxies);
    if (const auto wrong = SettingKeys::wrongValue(Setting::WebTrustedProxies, proxies)) {
        return Problem{ErrorKind::Settings, *wrong, ReportStep::WebPage::Bind};
    }
    web.trustedProxies = SettingKeys::splitList(proxies);
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

Status saveCertificate(const AppFolders& folders, const QString& certFile, const QString& keyFile) {
    Result<IniFile> ini = IniFile::load(settingsPath(folders));
    if (!ini) {
        return ini.problem();
    }
    SettingKeys::write(ini.value(), Setting::WebCertFile, certFile);
    SettingKeys::write(ini.value(), Setting::WebKeyFile, keyFile);
    return ini.value().save(IniFile::Access::OwnerOnly);
}

}  // namespace WebSettingsFile
