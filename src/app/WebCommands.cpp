#include "app/WebCommands.h"

#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <cstdio>
#include <iostream>
#include <string>

#include "logger/LoggerControl.h"
#include "report/Reporter.h"
#include "settings/WebSettings.h"
#include "support/ProgramNames.h"
#include "web/WebCertificate.h"
#include "web/WebPassword.h"
#include "web/WebServer.h"

namespace {

// One line of standard input; on a terminal the typed characters are not shown.
std::optional<QString> readSecretLine(const char* prompt) {
    const bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "%s", prompt);
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    if (!got) {
        return std::nullopt;
    }
    return QString::fromStdString(line);
}

// A service gets 1,024 descriptors unless its unit says more; the hard limit is what it may take.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Why the web page could not listen on `port` of `bind` (another program holds it, say), or
// nothing when it could.
std::optional<QString> portRefused(const QString& bind, quint16 port) {
    const QHostAddress address(bind);
    QTcpServer probe;
    if (address.isNull() || probe.listen(address, port)) {
        return std::nullopt;
    }
    return QStringLiteral("port ") + QString::number(port) + QStringLiteral(" of ") + bind +
           QStringLiteral(" cannot be used: ") + probe.errorString();
}

bool bindsEveryAddress(const QString& bind) {
    const QHostAddress address(bind);
    return address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6 ||
           address == QHostAddress::Any;
}

}  // namespace

namespace WebCommands {

int setPassword(const StartupPlace& place) {
    const AppFolders folders = AppFolders::locate(place);
    const std::optional<QString> password = readSecretLine("New web page password: ");
    if (!password || password->size() < 8) {
        std::fprintf(stderr, "quilljot: the web page password needs at least 8 characters\n");
        return 2;
    }
    if (isatty(STDIN_FILENO) != 0) {
        const std::optional<QString> again = readSecretLine("The same again: ");
        if (again != password) {
            std::fprintf(stderr, "quilljot: the two passwords differ; nothing changed\n");
            return 2;
        }
    }
    const QString settingsFile = folders.configFile(ProgramNames::kLoggerSettingsFile);
    QDir().mkpath(QFileInfo(settingsFile).path());
    if (const Status saved =
            WebSettingsFile::savePasswordHash(folders, WebPassword::hash(*password));
        !saved) {
        std::fprintf(stderr, "quilljot: the password could not be saved in %s: %s\n",
                     qPrintable(settingsFile), qPrintable(saved.problem().description));
        return 1;
    }
    std::fprintf(stderr,
                 "quilljot: web page password saved (as a salted hash) in %s; a running logger "
                 "asks for it once it reads its settings again (systemctl reload quilljot, or "
                 "kill -HUP its pid); a change of WebPort or WebBind waits for its next start\n",
                 qPrintable(settingsFile));
    return 0;
}

int makeCertificate(const StartupPlace& place) {
    const AppFolders folders = AppFolders::locate(place);
    const Result<WebSettings> settings = WebSettingsFile::load(folders);
    const QHostAddress bind(settings ? settings.value().bind : QString());
    const QString machine = QHostInfo::localHostName();
    QStringList names{machine, machine + QStringLiteral(".local"), QStringLiteral("localhost")};
    if (settings) {
        names += settings.value().hostNames;
    }
    QList<QHostAddress> addresses{QHostAddress(QHostAddress::LocalHost)};
    if (bindsEveryAddress(bind.toString())) {
        addresses = QNetworkInterface::allAddresses();
    } else if (!bind.isNull() && !bind.isLoopback()) {
        addresses.append(bind);
    }
    const QString certFile = folders.configFile(QStringLiteral("web-certificate.pem"));
    const QString keyFile = folders.configFile(QStringLiteral("web-key.pem"));
    QDir().mkpath(QFileInfo(certFile).path());
    const Result<QString> made = WebCertificate::make(certFile, keyFile, names, addresses);
    if (!made) {
        std::fprintf(stderr, "quilljot: %s\n", qPrintable(made.problem().description));
        return 1;
    }
    if (const Status saved = WebSettingsFile::saveCertificate(folders, certFile, keyFile); !saved) {
        std::fprintf(stderr,
                     "quilljot: the certificate's files could not be set in the settings: %s\n",
                     qPrintable(saved.problem().description));
        return 1;
    }
    std::printf(
        "Certificate: %s\nKey: %s\nFor: %s\nSHA-256 fingerprint: %s\n"
        "The web page is served over HTTPS from the logger's next start. Browsers warn "
        "about a self-signed certificate: accept it only when the fingerprint they show "
        "is this one.\n",
        qPrintable(certFile), qPrintable(keyFile), qPrintable(names.join(QStringLiteral(", "))),
        qPrintable(made.value()));
    return 0;
}

std::unique_ptr<WebServer> start(LoggerControl& logger, std::optional<quint16> port) {
    Result<WebSettings> settings = WebSettingsFile::load(logger.folders());
    auto refuse = [&logger](const Problem& problem) {
        std::fprintf(stderr, "quilljot: no web page: %s\n", qPrintable(problem.description));
        logger.reporter().toTextLog(ProgramNames::kProgram, QStringLiteral("WebPage"), problem);
        return nullptr;
    };
    if (!settings) {
        return refuse(settings.problem());
    }
    const quint16 wanted = port.value_or(settings.value().port);
    if (wanted == 0) {
        return nullptr;
    }
    raiseDescriptorLimit();
    // Asked first, so that a port in use is said in one line, with the reason.
    if (const auto refused = portRefused(settings.value().bind, wanted)) {
        return refuse(
            Problem{ErrorKind::Socket,
                    *refused + QStringLiteral("; the logger goes on without the web page")});
    }
    auto server = std::make_unique<WebServer>(logger, settings.value());
    const Result<quint16> listening = server->start(wanted);
    if (!listening) {
        return refuse(listening.problem());
    }
    QString url = server->url();
    if (bindsEveryAddress(settings.value().bind)) {
        // 0.0.0.0 is no address a browser can open: name the one the logger sends from.
        url = QString(server->url()).section(u':', 0, 0) + QStringLiteral("://") +
              logger.status().sendFrom + u':' + QString::number(server->port()) +
              QStringLiteral("/ (and every other address of this host)");
    }
    std::fprintf(stderr, "quilljot: web page at %s\n", qPrintable(url));
    if (const auto plain = server->plainOnNetwork()) {
        std::fprintf(stderr, "quilljot: warning: %s\n", qPrintable(*plain));
        logger.reporter().toTextLog(ProgramNames::kProgram, QStringLiteral("WebPage"),
                                    Problem{ErrorKind::Settings, *plain});
    }
    return server;
}

CheckedPage check(const AppFolders& folders, std::optional<quint16> port) {
    const Result<WebSettings> settings = WebSettingsFile::load(folders);
    if (!settings) {
        return {false, settings.problem().description};
    }
    const quint16 wanted = port.value_or(settings.value().port);
    if (wanted == 0) {
        return {true, QStringLiteral("off (WebPort is 0; --web PORT serves it for one run)")};
    }
    const QString bind = settings.value().bind;
    const QHostAddress address(bind);  // a valid address: the settings were checked
    if (!address.isLoopback() && settings.value().passwordHash.isEmpty()) {
        return {false, QStringLiteral("it binds ") + bind +
                           QStringLiteral(", which is not loopback: set a password first with "
                                          "quilljot --set-web-password")};
    }
    if (const auto refused = portRefused(bind, wanted)) {
        return {false, *refused};
    }
    if (bindsEveryAddress(bind)) {
        return {true, QStringLiteral("port ") + QString::number(wanted) +
                          QStringLiteral(" of every address of this host")};
    }
    const QString host =
        address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + bind + u']' : bind;
    return {true, QStringLiteral("http://") + host + u':' + QString::number(wanted) + u'/'};
}

}  // namespace WebCommands
