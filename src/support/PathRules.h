#pragma once

#include <QString>
#include <QStringList>

// Rules that work on path text alone. Each handles the Windows forms (drive letters,
// \\server\share, backslashes) and POSIX paths (root "/", "/" as separator), so the same code is
// right on both.
namespace PathRules {

// Whether a program in this folder (an absolute, clean POSIX path) was installed rather than run
// from where it was built: a bin, sbin or libexec folder of the system (/, /usr, /usr/local) or of
// a package under /opt (/opt/NAME/bin, also /opt/bin). A build folder anywhere else, even
// below /usr or /opt, is not.
bool isInstalledProgramFolder(const QString& folder);

// \\server\share\rest becomes share:\rest; anything else is returned unchanged.
QString uncToDriveForm(const QString& exePath);

// The folders that must exist before the file at `path` can be created, outermost first. The last
// component (the file name) and the root (c:, \\server\share or /) are never listed. A relative
// path gives nothing.
QStringList foldersFor(const QString& path);

// base, the separator of base's form, name.
QString join(const QString& base, const QString& name);

}  // namespace PathRules
