#pragma once

#include <QDateTime>
#include <functional>

#include "report/Reporter.h"

class OutgoingQueue;
class TextLog;

// The program's reporter: text-log lines go to the text log, event reports to the xAP network as
// controller events (class Homeseer.Event, block Event.Log: Time, Type, Data) through the
// outgoing queue, so that they are logged like any other event. With a journal (a headless
// logger's standard error, which a service manager keeps), each event report is also written
// there as one line, where an operator looks first.
class ApplicationReporter : public Reporter {
public:
    using Clock = std::function<QDateTime()>;
    using Journal = std::function<void(const QString&)>;

    ApplicationReporter(TextLog& textLog, Clock clock);

    void setOutgoing(OutgoingQueue* queue) { m_outgoing = queue; }
    void setJournal(Journal journal) { m_journal = std::move(journal); }
    // An event report that stays off the journal: for what the program's start-up line says
    // there already.
    void toNetworkOnly(const QString& type, const QString& what);

    // The journal's line for a report: its text for people on one line, after the type when
    // that is not the program's own.
    static QString journalLine(const QString& type, const QString& text);
    QString personLine(const QString& source, const QString& text) const override {
        return journalLine(source, text);
    }

protected:
    void writeTextLog(const QString& where, const QString& what, const Problem& problem) override;
    void sendReport(const QString& type, const QString& what,
                    const std::optional<Problem>& problem) override;

private:
    TextLog& m_textLog;
    Clock m_clock;
    void send(const QString& type, const QString& data);

    OutgoingQueue* m_outgoing = nullptr;
    Journal m_journal;
    bool m_offJournal = false;
};
