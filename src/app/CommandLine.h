#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "node/XapNode.h"
#include "report/Result.h"

// What quilljot's command line asks for. Reading it is all this does: no folder is looked at and
// nothing starts. An option is added in three places: a field here, a row of the option table
// and its reading in CommandLine.cpp.
struct CommandLine {
    enum class Action { Run, CheckConfig, Help, Version, SetWebPassword, MakeWebCertificate };

    Action action = Action::Run;
    QString appDir;  // empty: not given
    bool headless = false;
    bool echo = false;
    quint16 xapPort = XapNode::kXapPort;
    QString show;  // a window to open at start: echo, history or setup; empty: none
    std::optional<quint16> webPort;  // --web: the web page's port for this run
    QString helpText;                // what --help prints

    // The command line, or the line that says what is wrong with it (the program then ends
    // with status 2). `arguments` begins with the program's own name, as argv does.
    static Result<CommandLine> read(const QStringList& arguments);
};
