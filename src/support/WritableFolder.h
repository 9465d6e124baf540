#pragma once

#include <QString>

#include "report/Result.h"

class AppFolders;

// Makes a folder the program must write in (and the folders above it), and sees that the running
// user can make a file there. The problem names the folder, the user and the system's reason, so
// that a service started as the wrong user, or on a read-only mount, says what to change.
Status makeWritableFolder(const QString& folder);

// The name of the user the program runs as (the uid when it has none).
QString runningUserName();

// The spool folder of an application folder, made and writable. Without it every event the
// database does not take at once would be lost, so its problem says that the logger does not
// start, and what to change.
Status makeSpoolFolder(const AppFolders& folders);
