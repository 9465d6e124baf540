#include "support/AppFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include "report/Reporter.h"
#include "support/PathRules.h"
#include "support/ProgramNames.h"

AppFolders::AppFolders(QString appPath, QString programFile)
    : m_appPath(std::move(appPath)), m_programFile(std::move(programFile)) {}

StartupPlace StartupPlace::ofThisProcess(const QString& appDir) {
    StartupPlace place;
    place.appDir = appDir;
    place.homeEnv = qEnvironmentVariable("QUILLJOT_HOME");
    place.programFile = QCoreApplication::applicationFilePath();
    place.dataHomeEnv = qEnvironmentVariable("XDG_DATA_HOME");
    place.userHome = QDir::homePath();
    return place;
}

namespace {

// The sample settings file is installed with every program, and a build has none beside its
// programs.
bool isInstallPrefixBin(const QString& programFolder) {
    return QFileInfo(programFolder).fileName() == u"bin" &&
           QFileInfo::exists(programFolder +
                             QStringLiteral("/../share/quilljot/zelXapQuilljot.ini.sample"));
}

}  // namespace

AppFolders AppFolders::locate(const StartupPlace& place) {
    QString app = place.appDir;
    if (app.isEmpty()) {
        app = place.homeEnv;
    }
    if (app.isEmpty()) {
        const QString programFolder = QFileInfo(place.programFile).absolutePath();
        app = programFolder;
        // A folder under /usr or /opt is not the user's to write in, nor is any other an install
        // put the program in (`cmake --install --prefix DIR` leaves DIR/share/quilljot beside
        // DIR/bin). The base directory specification ignores a relative XDG_DATA_HOME.
        if (PathRules::isInstalledProgramFolder(QDir::cleanPath(programFolder)) ||
            isInstallPrefixBin(programFolder)) {
            const QString dataHome = QDir::isAbsolutePath(place.dataHomeEnv)
                                         ? place.dataHomeEnv
                                         : place.userHome + QStringLiteral("/.local/share");
            app = dataHome + QStringLiteral("/quilljot");
        }
    }
    return AppFolders(QDir::cleanPath(QDir(app).absolutePath()),
                      PathRules::uncToDriveForm(place.programFile));
}

QString AppFolders::ownFolderNotice(const StartupPlace& place) {
    const QString programFolder = QDir::cleanPath(QFileInfo(place.programFile).absolutePath());
    if (!place.appDir.isEmpty() || !place.homeEnv.isEmpty() ||
        locate(place).appPath() != programFolder) {
        return {};
    }
    QString notice = QStringLiteral(
        "the program's own folder, as no --app-dir was given; name "
        "another with --app-dir DIR");
    // A checkout's build/bin, and the run/ folder scripts/run-local keeps in the checkout.
    const QString checkout = QDir::cleanPath(programFolder + QStringLiteral("/../.."));
    const QString run = checkout + QStringLiteral("/run");
    if (QFileInfo::exists(checkout + QStringLiteral("/scripts/run-local")) &&
        QFileInfo(run + QStringLiteral("/Config")).isDir()) {
        notice +=
            QStringLiteral(" (make run's is ") + run + QStringLiteral(": --app-dir ") + run + u')';
    }
    return notice;
}

QString AppFolders::configFile(const QString& name) const {
    return PathRules::join(PathRules::join(m_appPath, QStringLiteral("Config")), name);
}

QString AppFolders::dataFolder() const {
    return PathRules::join(m_appPath, QStringLiteral("Data"));
}

QString AppFolders::textLogPath() const {
    return PathRules::join(PathRules::join(dataFolder(), ProgramNames::kProgram),
                           ProgramNames::kProgram + QStringLiteral(".txt"));
}

QString AppFolders::spoolFolder() const {
    return PathRules::join(dataFolder(), QStringLiteral("spool"));
}

QString AppFolders::defaultDatabasePath() const {
    return PathRules::join(dataFolder(), ProgramNames::kProgram + QStringLiteral(".mdb"));
}

QString AppFolders::lockPath() const {
    return PathRules::join(dataFolder(), QStringLiteral("quilljot.lock"));
}

QString AppFolders::resolve(const QString& path) const {
    if (path.isEmpty() || QDir::isAbsolutePath(path) || m_appPath.isEmpty()) {
        return path;
    }
    return QDir::cleanPath(PathRules::join(m_appPath, path));
}

bool FolderMaker::makeFoldersFor(const QString& filePath) {
    for (const QString& folder : PathRules::foldersFor(filePath)) {
        if (QFileInfo(folder).isDir()) {
            m_unmakeable.remove(folder);
            continue;
        }
        if (QDir().mkdir(folder)) {
            continue;
        }
        if (!m_unmakeable.contains(folder)) {
            m_unmakeable.insert(folder);
            const QString why = QFileInfo(folder).exists()
                                    ? QStringLiteral(" (a file of that name is in the way)")
                                    : QString();
            m_reporter.toNetwork(
                ProgramNames::kProgram, QStringLiteral(" CreateFolders ") + folder,
                Problem{
                    ErrorKind::FileSystem,
                    QStringLiteral("Path/File access error: cannot create folder ") + folder + why,
                    4});
        }
        return false;
    }
    return true;
}

QString localComputerName(const std::function<QString()>& hostName) {
    return hostName ? hostName() : QSysInfo::machineHostName();
}
