#pragma once

#include <QList>

#include "report/Problem.h"

class IniFile;

// Keys of the logger's settings file that no setting reads: a misspelt name (Databse=) leaves its
// setting at the default without a word otherwise. Each is named with the known key nearest to
// it, or with the section a known key of that name belongs in. Sections the logger does not read
// are left alone: other programs may keep theirs in the file.
namespace UnknownKeys {

QList<Problem> find(const IniFile& ini);

// The number of single-letter edits (insert, delete, change) that turn one name into the other,
// without regard to letter case.
int editDistance(QStringView a, QStringView b);

}  // namespace UnknownKeys
