#pragma once

#include <QString>

// What kind of failure a Problem is; what a caller may do about it follows from the kind alone.
enum class ErrorKind {
    None,  // no failure: a report that carries no step
    Generic,
    FileSystem,
    Database,  // the database refuses this value, and will again
    Socket,
    Message,
    Settings,
    // The database cannot take a write now but may later (locked, busy, unreachable, connection
    // lost, file moved away, disk full).
    DatabaseUnavailable,
};

// A failure, as a value handed back to the caller who can act on it or report it: its kind, what
// went wrong, and the step of the routine that failed (reports show it as "Line N", numbered per
// routine).
struct Problem {
    ErrorKind kind = ErrorKind::None;
    QString description;
    int step = 0;

    Problem atStep(int s) const { return Problem{kind, description, s}; }
    // A failure that may pass by itself: what failed is kept and tried again.
    bool passes() const { return kind == ErrorKind::DatabaseUnavailable; }
};
