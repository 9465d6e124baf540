#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "support/AppFolders.h"

class LoggerControl;
class WebServer;

// The command-line side of the web page: setting its password, and starting it beside the logger.
namespace WebCommands {

// --set-web-password: reads the password from standard input (without echo on a terminal, asked
// twice) and stores its salted hash in the settings. The program's exit status.
int setPassword(const StartupPlace& place);

// --make-web-certificate: a self-signed certificate and key in the Config folder for this
// computer's names and the bound address, set as WebCertFile and WebKeyFile; prints the
// certificate's fingerprint for comparing with what a browser shows. The exit status.
int makeCertificate(const StartupPlace& place);

// The web page as the settings (or --web PORT) ask for it; nothing when it is off or cannot
// start, which is said on standard error and in the text log, and the logger goes on. Raises the
// process's descriptor limit to the most allowed, for the connections the page may keep.
std::unique_ptr<WebServer> start(LoggerControl& logger, std::optional<quint16> port);

// --check-config's word on the web page: where it would be served, or why it could not be (its
// address, its password, or its port taken by another program). Nothing is changed.
struct CheckedPage {
    bool usable = true;
    QString text;
};
CheckedPage check(const AppFolders& folders, std::optional<quint16> port);

}  // namespace WebCommands
