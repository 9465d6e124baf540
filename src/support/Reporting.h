#pragma once

#include <QList>
#include <QString>
#include <exception>

#include "support/PendingError.h"

// The two reporting channels every routine uses when one of its steps fails: a line in the text
// log (WriteErrorLog) or an xAP event report (SendEventLog). Both read and clear the one pending
// error. The message and node layers see only this interface; the application's reporter
// (support/Reporter) writes the file and sends the events.
class Reporting {
public:
    virtual ~Reporting() = default;

    virtual void WriteErrorLog(const QString& sSource, const QString& sText) = 0;
    virtual void SendEventLog(const QString& sType, const QString& sText) = 0;

    const PendingError& pendingError() const { return m_pending; }
    void setPendingError(int number, const QString& description, int line);
    // Records a caught failure at step `line` of the catching routine.
    void setPendingError(const std::exception& failure, int line);
    void clearPendingError() { m_pending = PendingError{}; }

    // Returns the pending error and clears it.
    PendingError takePendingError();

private:
    PendingError m_pending;
};

// A reporter that keeps everything in memory; for tools and tests that have no application folder.
class MemoryReporting : public Reporting {
public:
    struct Entry {
        bool textLog;  // true: WriteErrorLog, false: SendEventLog
        QString first;
        QString second;
        PendingError error;
    };

    void WriteErrorLog(const QString& sSource, const QString& sText) override;
    void SendEventLog(const QString& sType, const QString& sText) override;

    QList<Entry> entries;
};
