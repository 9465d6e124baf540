#pragma once

#include <QDateTime>
#include <functional>

#include "report/Reporter.h"

class OutgoingQueue;
class TextLog;

// The program's reporter: text-log lines go to the text log, event reports to the xAP network as
// controller events (class Homeseer.Event, block Event.Log: Time, Type, Data) through the
// outgoing queue, so that they are logged like any other event.
class ApplicationReporter : public Reporter {
public:
    using Clock = std::function<QDateTime()>;

    ApplicationReporter(TextLog& textLog, Clock clock);

    void setOutgoing(OutgoingQueue* queue) { m_outgoing = queue; }

protected:
    void writeTextLog(const QString& where, const QString& what, const Problem& problem) override;
    void sendReport(const QString& type, const QString& what,
                    const std::optional<Problem>& problem) override;

private:
    TextLog& m_textLog;
    Clock m_clock;
    OutgoingQueue* m_outgoing = nullptr;
};
