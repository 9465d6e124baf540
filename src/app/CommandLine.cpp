#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: quilljot [--app-dir DIR] [--headless] [--echo] [--xap-port PORT] [--show WINDOW]\n"
    "                [--web PORT]\n"
    "       quilljot export [--app-dir DIR] [--from T] [--to T] [--source S] [--type T]\n"
    "                       [--data D] [--table events|messages] [--format csv|jsonl]\n"
    "                       [--activity [--bucket B] [--split source|type]]\n"
    "                       [-o FILE]   (quilljot export --help tells more)\n"
    "       quilljot --check-config [--app-dir DIR] [--xap-port PORT] [--web PORT]\n"
    "       quilljot --set-web-password [--app-dir DIR]\n"
    "       quilljot --make-web-certificate [--app-dir DIR]\n\n");

QList<QCommandLineOption> optionTable() {
    QCommandLineOption helpAll(QStringLiteral("help-all"));
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    return {
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Print this help.")},
        helpAll,  // what Qt programs print with Qt's own options; this one has none to add
        {{QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Print the version.")},
        {QStringLiteral("app-dir"), QStringLiteral("Application folder (holds Config and Data)."),
         QStringLiteral("dir")},
        {QStringLiteral("headless"), QStringLiteral("Run without tray icon and windows.")},
        {QStringLiteral("echo"), QStringLiteral("Print each logged event to standard output.")},
        {QStringLiteral("show"),
         QStringLiteral("Open a window at start: echo, history or setup (for desktops that "
                        "show no tray icons)."),
         QStringLiteral("window")},
        {QStringLiteral("xap-port"),
         QStringLiteral("Send to this UDP port instead of the xAP port 3639."),
         QStringLiteral("port")},
        {QStringLiteral("web"),
         QStringLiteral("Serve the web page on this TCP port (see WebPort); with --check-config, "
                        "say whether it could."),
         QStringLiteral("port")},
        {QStringLiteral("set-web-password"),
         QStringLiteral("Set the web page's password (read from standard input) and end.")},
        {QStringLiteral("make-web-certificate"),
         QStringLiteral("Make a self-signed certificate for the web page's HTTPS on this "
                        "computer's names and addresses, set it in the settings, print its "
                        "fingerprint and end.")},
        {QStringLiteral("check-config"),
         QStringLiteral("Read and check the settings, say what would be used and each problem, "
                        "and end (status 0: usable, 1: problems). Changes nothing.")},
    };
}

Problem bad(const QString& text) {
    return Problem{ErrorKind::Generic, text};
}

}  // namespace

Result<CommandLine> CommandLine::read(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Quilljot logs the events of an xAP home-automation network into a database.\n"
        "Settings live in DIR/Config, the database and the text log in DIR/Data. DIR is\n"
        "--app-dir, else $QUILLJOT_HOME, else for a program installed under /usr or /opt\n"
        "$XDG_DATA_HOME/quilljot (~/.local/share/quilljot), else the program's folder.\n"
        "One logger per folder: a second one on the same folder ends with status 1.\n"
        "Bad arguments end the program with status 2."));
    parser.addOptions(optionTable());
    if (!parser.parse(arguments)) {
        return bad(parser.errorText() + QStringLiteral(" (see --help)"));
    }
    CommandLine c;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        // Qt's own first line names the program by how it was started, or "<executable_name>"
        // before an application object exists.
        const QString qtText = parser.helpText();
        c.action = Action::Help;
        c.helpText = kUsage + qtText.mid(qtText.indexOf(u'\n') + 1);
        return c;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        c.action = Action::Version;
        return c;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return bad(QStringLiteral("unexpected argument '") + parser.positionalArguments().first() +
                   QStringLiteral("' (see --help)"));
    }
    if (parser.isSet(QStringLiteral("check-config"))) {
        c.action = Action::CheckConfig;
        for (const char* runOnly : {"headless", "echo", "show"}) {
            if (parser.isSet(QString::fromLatin1(runOnly))) {
                return bad(QStringLiteral("--check-config does not take --") +
                           QString::fromLatin1(runOnly));
            }
        }
    }
    if (parser.isSet(QStringLiteral("set-web-password"))) {
        c.action = Action::SetWebPassword;
    }
    if (parser.isSet(QStringLiteral("make-web-certificate"))) {
        c.action = Action::MakeWebCertificate;
    }
    c.appDir = parser.value(QStringLiteral("app-dir"));
    if (parser.isSet(QStringLiteral("app-dir")) && c.appDir.isEmpty()) {
        return bad(QStringLiteral("--app-dir needs a folder"));
    }
    if (!c.appDir.isEmpty() && QFileInfo::exists(c.appDir) && !QFileInfo(c.appDir).isDir()) {
        return bad(QStringLiteral("--app-dir ") + c.appDir +
                   QStringLiteral(" is a file, not a folder"));
    }
    c.headless = parser.isSet(QStringLiteral("headless"));
    c.echo = parser.isSet(QStringLiteral("echo"));
    c.show = parser.value(QStringLiteral("show"));
    if (parser.isSet(QStringLiteral("show")) && c.show != u"echo" && c.show != u"history" &&
        c.show != u"setup") {
        return bad(QStringLiteral("--show takes echo, history or setup, not '") + c.show + u'\'');
    }
    if (parser.isSet(QStringLiteral("xap-port"))) {
        bool ok = false;
        const uint port = parser.value(QStringLiteral("xap-port")).toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            return bad(QStringLiteral("--xap-port needs a number from 1 to 65535, not '") +
                       parser.value(QStringLiteral("xap-port")) + u'\'');
        }
        c.xapPort = quint16(port);
    }
    if (parser.isSet(QStringLiteral("web"))) {
        bool ok = false;
        const uint port = parser.value(QStringLiteral("web")).toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            return bad(QStringLiteral("--web needs a TCP port from 1 to 65535, not '") +
                       parser.value(QStringLiteral("web")) + u'\'');
        }
        c.webPort = quint16(port);
    }
    return c;
}
