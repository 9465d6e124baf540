#pragma once

#include <QString>

// The names this program is known by on disk and on the network. Users and other programs depend
// on every one of them: none may change.
namespace ProgramNames {

// Type of the program's own event reports; also names the text log and the default database.
inline const QString kProgram = QStringLiteral("xapzelQuilljot");
// The xAP source address is this prefix and the computer's name.
inline const QString kSourcePrefix = QStringLiteral("zel.Quilljot.");
inline const QString kUid = QStringLiteral("FF.000A:00");

inline const QString kLoggerSettingsFile = QStringLiteral("zelXapQuilljot.ini");
inline const QString kLoggerSection = QStringLiteral("Quilljot");
// Settings shared with the other xAP applications of the host.
inline const QString kSharedSettingsFile = QStringLiteral("zelXap.ini");
inline const QString kSharedSection = QStringLiteral("Interface");

// Controller events: the one class and block the logger writes into its table.
inline const QString kEventClass = QStringLiteral("Homeseer.Event");
inline const QString kEventBlock = QStringLiteral("Event.Log");

inline QString xapSource(const QString& computerName) {
    return kSourcePrefix + computerName;
}

}  // namespace ProgramNames
