#pragma once

#include <QString>

#include "report/Result.h"
#include "store/LogEvent.h"

// Events the database refused for a reason that will not pass (a value it does not take), kept
// for the operator to read: one JSON object per line with the event, the reason and when.
class RejectedEvents {
public:
    explicit RejectedEvents(QString path) : m_path(std::move(path)) {}

    Status add(const LogEvent& event, const QString& reason, const QString& when);
    const QString& path() const { return m_path; }

private:
    QString m_path;
};
