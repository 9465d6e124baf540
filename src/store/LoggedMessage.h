#pragma once

#include <QString>
#include <optional>

// A received xAP message other than a controller event, as the messages table keeps it: when it
// arrived (stored form "yyyy-MM-dd HH:mm:ss"), its header fields, and the whole text as received.
struct LoggedMessage {
    QString time;
    QString source;
    QString target;
    QString messageClass;
    QString uid;
    QString text;

    bool operator==(const LoggedMessage&) const = default;
};

struct StoredMessage {
    qint64 id = 0;
    LoggedMessage message;
};

// Which stored messages a reader asks for, oldest first (in the order they arrived). `from` and
// `to` as in EventQuery; source and class each take the rows whose text contains the filter's, in
// any letter case. Pages by key: `after` is the ID of the last row of the previous page.
struct MessageQuery {
    QString from;
    QString to;
    QString source;
    QString messageClass;
    std::optional<qint64> after;
    int limit = 0;  // 0: every row
};
