#pragma once

#include "report/Result.h"
#include "settings/LoggerSettings.h"
#include "support/AppFolders.h"

// What the setup page may choose as the logger's database, beyond what the settings file's
// reader checks: a database file from the page lies in the application's Data folder and is
// named as a plain path (no "file:" URI) that is not a side file's (-journal, -wal, -shm, in any
// letter case); an existing file must be a database this logger made
// (one of its event tables in it) or empty; a table that exists must have the event table's
// columns. A path elsewhere is set only in the settings file, by whoever may edit it. Checked at
// once and without the network: a server's table is checked when the logger opens it.
namespace DatabaseChoice {

Status check(const DatabaseSettings& next, const DatabaseSettings& current,
             const AppFolders& folders);

}  // namespace DatabaseChoice
