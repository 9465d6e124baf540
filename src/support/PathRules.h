#pragma once

#include <QString>
#include <QStringList>

// Rules that work on path text alone. Each handles the Windows forms (drive letters,
// \\server\share, backslashes) and POSIX paths (root "/", "/" as separator), so the same code is
// right on both.
namespace PathRules {

// A folder named "vb" in the path marks a development checkout (compared without regard to case;
// the separators on both sides are required).
bool isDevelopmentLocation(const QString& appPath);

// The installed location that replaces a development location.
QString developmentReplacement(const QString& appPath, const QString& computerName);

// \\server\share\rest becomes share:\rest; anything else is returned unchanged.
QString uncToDriveForm(const QString& exePath);

// The folders that must exist before the file at `path` can be created, outermost first. The last
// component (the file name) and the root (c:, \\server\share or /) are never listed. A relative
// path gives nothing.
QStringList foldersFor(const QString& path);

// base, the separator of base's form, name.
QString join(const QString& base, const QString& name);

}  // namespace PathRules
