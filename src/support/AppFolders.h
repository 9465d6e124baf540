#pragma once

#include <QSet>
#include <QString>
#include <functional>

class Reporter;

// Where the program lives and what it is called, as the start-up code learns it.
struct StartupPlace {
    QString appDir;                     // --app-dir; empty when not given
    QString homeEnv;                    // QUILLJOT_HOME; empty when not set
    QString programFile;                // full path of the running program
    QString dataHomeEnv;                // XDG_DATA_HOME; empty when not set
    QString userHome;                   // the user's home folder
    std::function<QString()> hostName;  // the computer's name; the system's when empty

    // The place of the running program: its path, QUILLJOT_HOME, XDG_DATA_HOME and the home
    // folder from the environment, and `appDir`.
    static StartupPlace ofThisProcess(const QString& appDir);
};

// The application folder and the paths below it: Config (settings), Data (database, text log).
class AppFolders {
public:
    AppFolders() = default;
    explicit AppFolders(QString appPath, QString programFile = QString());

    // --app-dir, else QUILLJOT_HOME, else, for an installed program (see
    // PathRules::isInstalledProgramFolder, or a bin folder with the install's share/quilljot
    // beside it, wherever it was installed), the user's data folder $XDG_DATA_HOME/quilljot
    // (~/.local/share/quilljot), else the program's folder: a program run from where it was
    // built keeps its data beside it.
    static AppFolders locate(const StartupPlace& place);
    // When locate() takes the program's own folder for want of --app-dir, what the commands that
    // read a logger's folder (--check-config, export) say about it: which folder that is, how to
    // name another, and the folder `make run` keeps beside the build when there is one. Empty
    // when the folder was named or is the user's data folder.
    static QString ownFolderNotice(const StartupPlace& place);

    const QString& appPath() const { return m_appPath; }
    const QString& programFile() const { return m_programFile; }
    QString configFile(const QString& name) const;
    QString dataFolder() const;
    QString textLogPath() const;
    // Where events and messages wait while the database cannot take them.
    QString spoolFolder() const;
    QString defaultDatabasePath() const;
    // The file whose lock keeps a second logger off this folder (see InstanceLock).
    QString lockPath() const;
    // A path from the settings: relative ones are taken relative to the application folder.
    QString resolve(const QString& path) const;

private:
    QString m_appPath;
    QString m_programFile;
};

// Makes the folders a file needs. A folder that cannot be made is reported once, as an event,
// until it can be made: start-up and every reload ask for the same folders.
class FolderMaker {
public:
    explicit FolderMaker(Reporter& reporter) : m_reporter(reporter) {}

    // True when every folder above `filePath` exists afterwards.
    bool makeFoldersFor(const QString& filePath);

private:
    Reporter& m_reporter;
    QSet<QString> m_unmakeable;
};

// The computer's name, as xAP addresses carry it.
QString localComputerName(const std::function<QString()>& hostName);
