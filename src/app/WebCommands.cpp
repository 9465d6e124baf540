#include "app/WebCommands.h"

#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <iostream>
#include <string>

#include "logger/LoggerControl.h"
#include "report/Reporter.h"
#include "support/ProgramNames.h"
#include "support/WebSettings.h"
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
                 "takes it at its next start\n",
                 qPrintable(settingsFile));
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
    auto server = std::make_unique<WebServer>(logger, settings.value());
    const Result<quint16> listening = server->start(wanted);
    if (!listening) {
        return refuse(listening.problem());
    }
    std::fprintf(stderr, "quilljot: web page at %s\n", qPrintable(server->url()));
    return server;
}

}  // namespace WebCommands
