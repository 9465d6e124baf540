#pragma once

#include <QString>

#include "report/Result.h"
#include "settings/SettingKeys.h"
#include "support/AppFolders.h"

// The web page's settings, in section "Quilljot" of the logger's settings file: the TCP port it
// listens on (0: no web page), the address it binds, the salted hash of its password (empty:
// no password set, so only a loopback address may be bound), the certificate and key of HTTPS
// (absolute paths; empty: plain HTTP), more names it is opened under, and the reverse proxies
// whose forwarding headers are believed.
struct WebSettings {
    quint16 port = 0;
    QString bind = SettingKeys::initial(Setting::WebBind);
    QString passwordHash;
    QString certFile;
    QString keyFile;
    QStringList hostNames;
    QStringList trustedProxies;

    bool operator==(const WebSettings&) const = default;
};

namespace WebSettingsFile {

// The web settings of the application folder (the defaults when the file cannot be read); a
// WebPort that is no port is a Problem.
Result<WebSettings> load(const AppFolders& folders);
// Stores a new password hash, keeping every other setting of the file.
Status savePasswordHash(const AppFolders& folders, const QString& hash);
// Stores the certificate and key files of HTTPS, keeping every other setting of the file.
Status saveCertificate(const AppFolders& folders, const QString& certFile, const QString& keyFile);

}  // namespace WebSettingsFile
