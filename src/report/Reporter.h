#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <mutex>
#include <optional>

#include "report/Problem.h"

// Where the program says what went wrong: a line in the text log, or an event report on the xAP
// network (which is how the logger's users hear of it). Every layer that reports takes this
// interface; the application's implementation writes the file and sends the events. Any thread may
// report: one report is written and sent whole before the next one starts.
//
//   text log line:  "<where> <what> <step> <description>"
//   event report:   type <type>, data "<what>" or "<what> Line <step> <description>"
//
// Those two formats are what other programs read. People (standard error, the status window,
// the web page) get the sentence alone: the problem's description, or the report's text, without
// the routine's name and step.
class Reporter {
public:
    virtual ~Reporter() = default;

    void toTextLog(const QString& where, const QString& what, const Problem& problem = {}) {
        const std::lock_guard hold(m_lock);
        writeTextLog(where, what, problem);
        if (m_watcher) {
            m_watcher(personLine(where, plainText(what, problem)));
        }
    }
    void toNetwork(const QString& type, const QString& what,
                   const std::optional<Problem>& problem = std::nullopt) {
        const std::lock_guard hold(m_lock);
        sendReport(type, what, problem);
        if (m_watcher) {
            m_watcher(personLine(type, plainText(what, problem)));
        }
    }

    // Hears every report as one line for people, after it went its way: what status views list.
    using Watcher = std::function<void(const QString& line)>;
    void setWatcher(Watcher watcher) {
        const std::lock_guard hold(m_lock);
        m_watcher = std::move(watcher);
    }

    // The texts both channels write, so that every implementation writes the same.
    static QString textLogLine(const QString& where, const QString& what, const Problem& problem);
    static QString reportData(const QString& what, const std::optional<Problem>& problem);
    // The sentence for people: the problem's description when there is one, else `what`; on one
    // line, starting with a capital.
    static QString plainText(const QString& what, const std::optional<Problem>& problem);

    // A line for people of a report of `source` (a report type or a text log's "where"): the
    // text alone where the source is the program itself.
    virtual QString personLine(const QString& source, const QString& text) const {
        return source + QStringLiteral(": ") + text;
    }

protected:
    // Held while a report is written and sent; a report may report its own failure.
    std::recursive_mutex& reportLock() { return m_lock; }

    virtual void writeTextLog(const QString& where, const QString& what,
                              const Problem& problem) = 0;
    virtual void sendReport(const QString& type, const QString& what,
                            const std::optional<Problem>& problem) = 0;

private:
    std::recursive_mutex m_lock;
    Watcher m_watcher;
};

// A reporter that keeps everything in memory; for tools and tests.
class MemoryReporter : public Reporter {
public:
    struct Entry {
        bool textLog;    // true: toTextLog, false: toNetwork
        QString first;   // where, or type
        QString second;  // what
        Problem problem;
        QString text;  // the line or the report data as written
    };

    QList<Entry> entries;

protected:
    void writeTextLog(const QString& where, const QString& what, const Problem& problem) override;
    void sendReport(const QString& type, const QString& what,
                    const std::optional<Problem>& problem) override;
};
