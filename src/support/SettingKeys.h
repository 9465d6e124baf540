#pragma once

#include <QString>
#include <QStringView>
#include <span>

// One key of the logger's settings file: its section and name, the value a first start writes,
// and the comment written above it there (what the key means and which values it takes).
struct SettingKey {
    QStringView section;
    QStringView name;
    QStringView initial;
    QStringView comment;
};

// Every key of Config/zelXapQuilljot.ini. A new key is one line in the table of SettingKeys.cpp:
// the loader reads its default from there, and a first start writes it with its comment.
namespace SettingKeys {

// In the order the first start's file lists them, grouped by section.
std::span<const SettingKey> all();
// The value a first start writes for a key (any letter case); empty for a key not in the table.
QString initial(QStringView section, QStringView name);
// The text of the file a first start writes: a few lines on the format, then each section with
// every key at its initial value, a comment line above each; the platform's line ends.
QString firstFileText();

}  // namespace SettingKeys
