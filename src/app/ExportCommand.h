#pragma once

#include <QStringList>

// `quilljot export`: the stored events a query names, written as CSV or JSON lines to a file or
// standard output. It reads the database the settings of the application folder name, on a
// connection of its own, so it runs beside a logger that is writing.
namespace ExportCommand {

// `arguments` are those after "export". The exit status: 0 written, 1 the database or the output
// failed, 2 the command line is wrong.
int run(const QStringList& arguments);

}  // namespace ExportCommand
