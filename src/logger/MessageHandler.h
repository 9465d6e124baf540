#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>

#include "store/LogEvent.h"

class OutgoingQueue;
class Reporter;
class Store;
class XapMessage;

// What the logger does with one received message: a controller event becomes a row in the store,
// an echo query addressed to the logger is answered with its text, a role query with the
// logger's role. Everything else is left alone.
class MessageHandler : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    MessageHandler(Store& store, OutgoingQueue& outgoing, Reporter& reporter, Clock clock,
                   QObject* parent = nullptr);

    // The logger's own xAP address (queries to it are answered, and a failed write of its own
    // event reports is not reported again) and program file (named in the role reply).
    void setOwnSource(const QString& source) { m_ownSource = source; }
    void setProgramFile(const QString& path) { m_programFile = path; }

    // A refused row is reported as step 4 of "Readmessage"; a malformed text goes to the text
    // log, and what could be read of it is still handled.
    void handle(QString text);

    // What handle() has done: messages read, event rows written, and events whose row the
    // database (or a closed connection) refused.
    struct Tally {
        quint64 messages = 0;
        quint64 rowsWritten = 0;
        quint64 rowsRefused = 0;
    };
    const Tally& tally() const { return m_tally; }

    // The event time in the stored form: the controller's text when it names a date, else now.
    static QString storedTime(QStringView text, const Clock& now);

signals:
    void eventLogged(const LogEvent& event);

private:
    void logEvent(const XapMessage& m);
    void answerEcho(const XapMessage& m);
    void answerRole(const XapMessage& m);

    Store& m_store;
    OutgoingQueue& m_outgoing;
    Reporter& m_reporter;
    Clock m_clock;
    QString m_ownSource;
    QString m_programFile;
    Tally m_tally;
    bool m_unavailableReported = false;
};
