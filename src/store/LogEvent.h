#pragma once

#include <QString>

// One controller event as the logger stores it. `time` is always in the stored form
// "yyyy-MM-dd HH:mm:ss"; the texts are as received.
struct LogEvent {
    QString time;
    QString source;
    QString type;
    QString data;

    bool operator==(const LogEvent&) const = default;
};

// An event read back from the database, with the row's key.
struct StoredEvent {
    qint64 id = 0;
    LogEvent event;
};
