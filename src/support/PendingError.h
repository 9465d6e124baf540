#pragma once

#include <QString>

// The one current error of the process: set by a failing step, read and cleared by the reporting
// routines. `line` is the number of the failing step within its routine; each routine documents
// its own step numbering next to its code.
struct PendingError {
    int number = 0;
    QString description;
    int line = 0;

    bool isSet() const { return number != 0; }
};

// Error numbers carried by PendingError. Small and stable so that text-log lines stay comparable.
namespace ErrorNumber {
constexpr int Generic = 1;
constexpr int FileSystem = 2;
constexpr int Database = 3;
constexpr int Socket = 4;
constexpr int Message = 5;
constexpr int Settings = 6;
}  // namespace ErrorNumber
