#pragma once

#include <QString>

// A failure, as a value handed back to the caller who can act on it or report it: a number that
// says what kind of failure it is, what went wrong, and the step of the routine that failed
// (reports show it as "Line N", numbered per routine).
struct Problem {
    int number = 0;
    QString description;
    int step = 0;

    Problem atStep(int s) const { return Problem{number, description, s}; }
};

// Numbers carried by Problem. Small and stable so that text-log lines stay comparable.
namespace ErrorNumber {
constexpr int Generic = 1;
constexpr int FileSystem = 2;
constexpr int Database = 3;
constexpr int Socket = 4;
constexpr int Message = 5;
constexpr int Settings = 6;
// A database that cannot take a write now but may later (locked, busy, unreachable, connection
// lost, file moved away, disk full): the write is kept and tried again. Database (3) is a refusal
// that will not pass, of this one value.
constexpr int DatabaseUnavailable = 7;
}  // namespace ErrorNumber
