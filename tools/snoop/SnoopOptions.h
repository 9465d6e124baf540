#pragma once

#include <QCommandLineParser>
#include <QString>

#include "SnoopFilter.h"
#include "report/Result.h"

// What xap-snoop was asked to do, read from its command line.
struct SnoopOptions {
    enum class Output { Summary, Full, Json };

    quint16 port = 0;  // 0: any free port
    quint16 hubPort = 3639;
    SnoopFilter filter;
    Output output = Output::Summary;
    QString capturePath;   // empty: no capture
    qint64 count = 0;      // stop after this many shown; 0: no limit
    qint64 timeoutMs = 0;  // 0: no limit

    // The options xap-snoop understands, for parsing and --help.
    static void describe(QCommandLineParser& parser);
    // The values of a parsed command line, or what is wrong with them.
    static Result<SnoopOptions> read(const QCommandLineParser& parser);
};
