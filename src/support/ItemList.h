#pragma once

#include <QString>

// The item list of one message section as handed to SendXap: items separated by the character
// with code 0, each item's name separated from its value by the first character with code 1.
namespace ItemList {

constexpr QChar kItemSeparator = QChar(0);
constexpr QChar kValueSeparator = QChar(1);

inline QString item(const QString& name, const QString& value) {
    return name + kValueSeparator + value;
}

inline QString join(std::initializer_list<QString> items) {
    QString out;
    bool first = true;
    for (const QString& it : items) {
        if (!first) {
            out += kItemSeparator;
        }
        out += it;
        first = false;
    }
    return out;
}

}  // namespace ItemList
