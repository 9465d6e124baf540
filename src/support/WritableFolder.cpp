#include "support/WritableFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "support/AppFolders.h"
#include "support/PathRules.h"

namespace {

Problem cannot(const QString& doing, const QString& folder, const QString& why) {
    return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot ") + doing + u' ' + folder +
                                              QStringLiteral(" as user ") + runningUserName() +
                                              QStringLiteral(": ") + why};
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString runningUserName() {
    const uid_t uid = ::geteuid();
    if (const passwd* entry = ::getpwuid(uid); entry != nullptr && entry->pw_name != nullptr) {
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return QStringLiteral("with uid ") + QString::number(uid);
}

Status makeWritableFolder(const QString& folder) {
    QStringList folders = PathRules::foldersFor(folder);
    folders.append(folder);
    for (const QString& f : folders) {
        const QByteArray name = QFile::encodeName(f);
        struct stat info {};
        if (::stat(name.constData(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                return cannot(QStringLiteral("make the folder"), f,
                              QStringLiteral("a file of that name is in the way"));
            }
            continue;
        }
        if (::mkdir(name.constData(), 0777) != 0 && errno != EEXIST) {
            return cannot(QStringLiteral("make the folder"), f, systemReason(errno));
        }
    }
    // Permission bits alone do not tell: a read-only mount, or root on a network share, refuse
    // what the bits allow. Making a file does.
    const QByteArray probe = QFile::encodeName(
        PathRules::join(folder, QStringLiteral(".write-check-")) + QString::number(::getpid()));
    const int fd = ::open(probe.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        return cannot(QStringLiteral("write in the folder"), folder, systemReason(errno));
    }
    ::close(fd);
    ::unlink(probe.constData());
    return {};
}

Status makeSpoolFolder(const AppFolders& folders) {
    const Status made = makeWritableFolder(folders.spoolFolder());
    if (made) {
        return made;
    }
    return Problem{made.problem().kind,
                   made.problem().description + QStringLiteral(". The logger keeps its spool in ") +
                       folders.spoolFolder() +
                       QStringLiteral(" and does not start without one: let ") + runningUserName() +
                       QStringLiteral(" write there, or choose another application folder "
                                      "(--app-dir or QUILLJOT_HOME)")};
}
