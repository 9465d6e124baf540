#include "app/ExportCommand.h"

#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

#include "report/Reporter.h"
#include "store/EventExport.h"
#include "store/MessageExport.h"
#include "store/Store.h"
#include "support/AppFolders.h"
#include "support/DateText.h"
#include "support/SettingsStore.h"

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;

int fail(int status, const QString& text) {
    std::fprintf(stderr, "quilljot export: %s\n", qPrintable(text));
    return status;
}

void defineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Writes the logged events to a file or standard output, oldest first.\n"
        "Times are taken in any form the logger reads (2026-12-01, 2026-12-01 18:00, ...): "
        "--from is the first time taken, --to the first time no longer taken."));
    parser.addHelpOption();
    const QString value = QStringLiteral("text");
    parser.addOptions({
        {QStringLiteral("app-dir"), QStringLiteral("Application folder (holds Config and Data)."),
         QStringLiteral("dir")},
        {QStringLiteral("from"), QStringLiteral("Events at or after this time."),
         QStringLiteral("time")},
        {QStringLiteral("to"), QStringLiteral("Events before this time."), QStringLiteral("time")},
        {QStringLiteral("source"), QStringLiteral("Events whose source contains this."), value},
        {QStringLiteral("type"), QStringLiteral("Events whose type contains this."), value},
        {QStringLiteral("data"), QStringLiteral("Events whose data contains this."), value},
        {QStringLiteral("table"),
         QStringLiteral("events (the default) or messages (the table the rules fill; --source "
                        "filters it, --type takes its class)."),
         QStringLiteral("table")},
        {QStringLiteral("format"), QStringLiteral("csv (the default) or jsonl."),
         QStringLiteral("format")},
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("Write to this file (standard output when not given)."),
         QStringLiteral("file")},
    });
}

// A bound in the stored form, or nothing when the text names no time.
std::optional<QString> storedBound(const QCommandLineParser& parser, const QString& option) {
    if (!parser.isSet(option)) {
        return QString();
    }
    return DateText::normalize(parser.value(option));
}

// Where the rows go: the named file, replaced only once every row is in it, or standard output.
class Output {
public:
    explicit Output(const QString& path) : m_path(path) {
        if (path.isEmpty() || path == u"-") {
            m_stdout.open(stdout, QIODevice::WriteOnly);
        } else {
            m_file.setFileName(path);
            m_file.open(QIODevice::WriteOnly);
        }
    }
    bool isOpen() const { return toFile() ? m_file.isOpen() : m_stdout.isOpen(); }
    QString errorString() const { return toFile() ? m_file.errorString() : m_stdout.errorString(); }
    QIODevice& device() { return toFile() ? static_cast<QIODevice&>(m_file) : m_stdout; }
    bool finish() { return toFile() ? m_file.commit() : m_stdout.flush(); }

private:
    bool toFile() const { return !m_path.isEmpty() && m_path != u"-"; }

    QString m_path;
    QSaveFile m_file;
    QFile m_stdout;
};

// A bar on standard error while it is a terminal; redrawn at most five times a second.
class ProgressBar {
public:
    explicit ProgressBar(qint64 total) : m_total(total) { m_shown.start(); }

    void show(qint64 written, bool last = false) {
        if (!last && m_shown.elapsed() < 200) {
            return;
        }
        m_shown.restart();
        if (m_total <= 0) {
            std::fprintf(stderr, "\r%lld rows%s", static_cast<long long>(written),
                         last ? "\n" : "");
            std::fflush(stderr);
            return;
        }
        constexpr int kWidth = 40;
        const double part = m_total > 0 ? std::min(1.0, double(written) / double(m_total)) : 1.0;
        const int filled = int(part * kWidth);
        std::fprintf(stderr, "\r[%s%s] %3d%%  %lld of %lld rows", QByteArray(filled, '#').data(),
                     QByteArray(kWidth - filled, ' ').data(), int(part * 100),
                     static_cast<long long>(written), static_cast<long long>(m_total));
        if (last) {
            std::fputc('\n', stderr);
        }
        std::fflush(stderr);
    }

private:
    qint64 m_total;
    QElapsedTimer m_shown;
};

}  // namespace

namespace ExportCommand {

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    defineOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("quilljot export")} + arguments)) {
        return fail(kUsage, parser.errorText() + QStringLiteral(" (see --help)"));
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt's first line names the program file, not the command.
        const QString qtText = parser.helpText();
        std::printf("Usage: quilljot export [options]\n%s",
                    qPrintable(qtText.mid(qtText.indexOf(u'\n') + 1)));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail(kUsage, QStringLiteral("unexpected argument '") +
                                parser.positionalArguments().first() +
                                QStringLiteral("' (see --help)"));
    }
    const QString format = parser.value(QStringLiteral("format"));
    if (!format.isEmpty() && format != u"csv" && format != u"jsonl") {
        return fail(kUsage, QStringLiteral("--format takes csv or jsonl, not '") + format + u'\'');
    }
    const QString table = parser.value(QStringLiteral("table"));
    const bool messages = table == u"messages";
    if (!table.isEmpty() && table != u"events" && !messages) {
        return fail(kUsage,
                    QStringLiteral("--table takes events or messages, not '") + table + u'\'');
    }
    if (messages && parser.isSet(QStringLiteral("data"))) {
        return fail(kUsage, QStringLiteral("--data filters events only"));
    }
    EventQuery query;
    query.order = EventQuery::Order::Ascending;
    for (const auto& [option, bound] : {std::pair{QStringLiteral("from"), &query.from},
                                        std::pair{QStringLiteral("to"), &query.to}}) {
        const std::optional<QString> stored = storedBound(parser, option);
        if (!stored) {
            return fail(kUsage, u"--" + option + QStringLiteral(" names no time: '") +
                                    parser.value(option) + u'\'');
        }
        *bound = *stored;
    }
    query.source = parser.value(QStringLiteral("source"));
    query.type = parser.value(QStringLiteral("type"));
    query.data = parser.value(QStringLiteral("data"));

    StartupPlace place;
    place.appDir = parser.value(QStringLiteral("app-dir"));
    place.homeEnv = qEnvironmentVariable("QUILLJOT_HOME");
    place.programFile = QCoreApplication::applicationFilePath();
    if (!place.appDir.isEmpty() && !QFileInfo(place.appDir).isDir()) {
        return fail(kUsage,
                    QStringLiteral("--app-dir ") + place.appDir + QStringLiteral(" is no folder"));
    }
    const AppFolders folders = AppFolders::locate(place);
    MemoryReporter reporter;
    const SettingsStore settingsStore(folders, reporter);
    const SettingsStore::Loaded loaded = settingsStore.load(settingsStore.defaults());
    for (const Problem& p : loaded.problems) {
        std::fprintf(stderr, "quilljot export: settings: %s\n", qPrintable(p.description));
    }
    Store store;
    if (const Status opened = store.openForReading(loaded.settings.database); !opened) {
        return fail(kFailed,
                    QStringLiteral("cannot read the database: ") + opened.problem().description);
    }

    Output out(parser.value(QStringLiteral("output")));
    if (!out.isOpen()) {
        return fail(kFailed, QStringLiteral("cannot write ") + parser.value(QStringLiteral("o")) +
                                 QStringLiteral(": ") + out.errorString());
    }
    std::optional<ProgressBar> bar;
    if (::isatty(STDERR_FILENO) != 0) {
        // The messages table is not counted ahead: the bar shows the rows written.
        const Result<qint64> total = messages ? Result<qint64>(0) : store.countEvents(query);
        bar.emplace(total ? total.value() : 0);
    }
    const ExportFormat exportFormat =
        format == u"jsonl" ? ExportFormat::JsonLines : ExportFormat::Csv;
    const auto progress = [&](qint64 rows) {
        if (bar) {
            bar->show(rows);
        }
        return true;
    };
    Result<qint64> written = qint64(0);
    if (messages) {
        MessageQuery m;
        m.from = query.from;
        m.to = query.to;
        m.source = query.source;
        m.messageClass = query.type;
        written = MessageExport::write(store, m, exportFormat, out.device(), progress);
    } else {
        written = EventExport::write(store, query, exportFormat, out.device(), progress);
    }
    if (!written) {
        return fail(kFailed, written.problem().description);
    }
    if (bar) {
        bar->show(written.value(), true);
    }
    if (!out.finish()) {
        return fail(kFailed, QStringLiteral("cannot write the output: ") + out.errorString());
    }
    return 0;
}

}  // namespace ExportCommand
