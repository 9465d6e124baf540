#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>
#include <functional>

#include "intake/LogRules.h"
#include "intake/ReceivedItem.h"

class OutgoingQueue;
class Reporter;
class XapMessage;

// What the logger does with one received message, on the receiver's thread: a controller event,
// or another message the rules log (see LogRules), is handed on to be stored; an echo query
// addressed to the logger is answered with its text at once, a role query with the logger's role.
class MessageHandler {
public:
    using Clock = std::function<QDateTime()>;

    // Where what is to be stored goes.
    using Sink = std::function<void(ReceivedItem&&)>;

    MessageHandler(Sink sink, OutgoingQueue& outgoing, Reporter& reporter, Clock clock);

    // The logger's own xAP address (queries to it are answered, and a failed write of its own
    // event reports is not reported again) and program file (named in the role reply).
    void setOwnSource(const QString& source) { m_ownSource = source; }
    void setProgramFile(const QString& path) { m_programFile = path; }
    // What is logged where.
    void setRules(LogRules rules) { m_rules = std::move(rules); }

    // A malformed text goes to the text log, and what could be read of it is still handled. A
    // text cut off inside a block is left alone: it is reported once per source.
    void handle(QString text);

    // What handle() has done: messages read, and of them those handed on to be stored.
    struct Tally {
        quint64 messages = 0;
        quint64 events = 0;
        quint64 loggedMessages = 0;
    };
    const Tally& tally() const { return m_tally; }

    // The event time in the stored form: the controller's text when it names a date, else now.
    static QString storedTime(QStringView text, const Clock& now);

private:
    void logEvent(const XapMessage& m);
    void logMessage(const XapMessage& m);
    // An event without a Time item is logged with its arrival time; said once per source.
    void reportMissingTime(const QString& source);
    void reportCutOff(const XapMessage& m);
    void answerEcho(const XapMessage& m);
    void answerRole(const XapMessage& m);

    Sink m_sink;
    OutgoingQueue& m_outgoing;
    Reporter& m_reporter;
    Clock m_clock;
    QString m_ownSource;
    QString m_programFile;
    Tally m_tally;
    LogRules m_rules;
    QSet<QString> m_timelessSources;
    // Sources said to send events without a time, at most (a flood of made-up sources is not).
    static constexpr qsizetype kMaxTimelessSources = 1000;
    // Sources whose cut-off messages were reported; a bounded number, as sources are whatever
    // the network's texts say.
    static constexpr qsizetype kCutOffSourcesKept = 1024;
    QSet<QString> m_cutOffSources;
};
