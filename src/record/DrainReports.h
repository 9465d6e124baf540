#pragma once

#include <QElapsedTimer>
#include <QString>

#include "report/Problem.h"
#include "spool/Spool.h"

class Reporter;

// How the reports of one kind of record name it and its spool.
struct DrainTexts {
    QString spoolName;    // the spool's files: "<spoolName>.spool" and ".position"
    QString spool;        // the spool as reports name it ("Spool")
    QString record;       // one record ("event")
    QString records;      // several ("events")
    QString openWhat;     // what a failure to open the spool is reported as
    QString problemWhat;  // what a database or spool problem is reported as
    int problemStep = 0;  // the step problems are said at; 0: their own
    QString keptWhat;     // who waits in the spool ("Events")
    QString place = QStringLiteral("the database");  // where the records go
};

// What a drainer says about its spool, and how often. An outage (from the first record kept until
// the spool is written) says its cause once; a different cause within it (a failed retry often
// says the same thing in other words) at most once a minute, and a full spool once.
class DrainReports {
public:
    static constexpr qint64 kCauseRepeatMs = 60000;

    DrainReports(Reporter& reporter, const DrainTexts& texts);

    const DrainTexts& texts() const { return m_texts; }

    void openFailed(const Problem& problem);
    // What an earlier run left: records to write first, damaged bytes left out.
    void recovered(const Spool::Recovered& found, const QString& path);
    // `nowMs` on the drainer's clock; `waiting` in the spool.
    void cause(const Problem& cause, qint64 waiting, qint64 nowMs);
    void full(qint64 waiting);
    // The spool is written; `count` records were taken from it in this run. Ends the outage.
    void drained(quint64 count);

private:
    Reporter& m_reporter;
    const DrainTexts& m_texts;
    QString m_cause;  // said in this outage
    qint64 m_causeSaidMs = 0;
    bool m_fullSaid = false;
};
