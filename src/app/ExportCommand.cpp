#include "app/ExportCommand.h"

#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

#include "report/Reporter.h"
#include "settings/SettingsStore.h"
#include "store/EventExport.h"
#include "store/MessageExport.h"
#include "store/Store.h"
#include "support/AppFolders.h"
#include "support/DateText.h"

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
        {QStringLiteral("activity"),
         QStringLiteral("Write the number of events per interval (Start,Count) rather than the "
                        "events, as CSV; the range is the last seven days when not given.")},
        {QStringLiteral("bucket"),
         QStringLiteral("With --activity: minute, hour, day or week (picked from the range's "
                        "length when not given)."),
         QStringLiteral("bucket")},
        {QStringLiteral("split"),
         QStringLiteral("With --activity: source or type; a column each for the five busiest, "
                        "and one for the others."),
         QStringLiteral("split")},
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

// The chart --activity asks for: the range and filters of `events`, --bucket and --split; a
// problem says what is wrong with the command line.
Result<ActivityQuery> activityQuery(const QCommandLineParser& parser, const EventQuery& events) {
    const auto usage = [](const QString& text) { return Problem{ErrorKind::Settings, text}; };
    ActivityQuery query;
    query.to = events.to;
    if (query.to.isEmpty()) {
        query.to =
            DateText::isoText(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0), Qt::UTC));
    }
    query.from = events.from;
    if (query.from.isEmpty()) {
        const QDate to = QDate::fromString(query.to.left(10), QStringLiteral("yyyy-MM-dd"));
        query.from = to.addDays(-7).toString(QStringLiteral("yyyy-MM-dd")) + query.to.mid(10);
    }
    query.source = events.source;
    query.type = events.type;
    query.data = events.data;
    const QString bucket = parser.value(QStringLiteral("bucket"));
    if (bucket.isEmpty()) {
        query.bucket = ActivityQuery::bucketFor(query.from, query.to);
    } else if (const auto named = ActivityBuckets::fromName(bucket)) {
        query.bucket = *named;
    } else {
        return usage(QStringLiteral("--bucket takes minute, hour, day or week, not '") + bucket +
                     u'\'');
    }
    const QString split = parser.value(QStringLiteral("split"));
    if (split == u"source") {
        query.split = ActivityQuery::Split::Source;
    } else if (split == u"type") {
        query.split = ActivityQuery::Split::Type;
    } else if (!split.isEmpty()) {
        return usage(QStringLiteral("--split takes source or type, not '") + split + u'\'');
    }
    if (!ActivityBuckets::starts(query)) {
        return usage(QStringLiteral("the range must end after it begins and hold at most ") +
                     QString::number(ActivityQuery::kMaxBuckets) +
                     QStringLiteral(" intervals: choose a longer --bucket"));
    }
    return query;
}

// The events per interval of `query`, as CSV: Start,Count and a column per part of a split.
int writeActivity(Store& store, const ActivityQuery& query, Output& out) {
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const Result<ActivityChart> chart = store.activity(query, [terminal](int done, int total) {
        if (terminal) {
            std::fprintf(stderr, "\rreading the rows: %d of %d parts", done, total);
            std::fflush(stderr);
        }
        return true;
    });
    if (terminal && !query.data.isEmpty()) {
        std::fputc('\n', stderr);
    }
    if (!chart) {
        return fail(kFailed, chart.problem().description);
    }
    QByteArray text = "Start,Count";
    for (const QString& part : chart.value().parts) {
        text += ',';
        EventExport::appendCsvField(text, part);
    }
    text += "\r\n";
    for (const ActivityBucket& b : chart.value().buckets) {
        text += b.start.toLatin1() + ',' + QByteArray::number(b.count);
        for (const qint64 n : b.parts) {
            text += ',' + QByteArray::number(n);
        }
        text += "\r\n";
    }
    if (out.device().write(text) != text.size() || !out.finish()) {
        return fail(kFailed, QStringLiteral("cannot write the output: ") + out.errorString());
    }
    return 0;
}

// What a valid command line asks for.
struct Request {
    EventQuery query;
    bool messages = false;  // the messages table, not the events
    bool activity = false;  // the events per interval, not the events
    ActivityQuery chart;    // with `activity`
    ExportFormat format = ExportFormat::Csv;
};

// Parses the command line and answers --help. The exit status when the command ends there.
std::optional<int> parseCommandLine(QCommandLineParser& parser, const QStringList& arguments) {
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
    return std::nullopt;
}

// The request the options make; a problem says what is wrong with the command line.
Result<Request> readRequest(const QCommandLineParser& parser) {
    const auto usage = [](const QString& text) { return Problem{ErrorKind::Settings, text}; };
    Request request;
    const QString format = parser.value(QStringLiteral("format"));
    if (!format.isEmpty() && format != u"csv" && format != u"jsonl") {
        return usage(QStringLiteral("--format takes csv or jsonl, not '") + format + u'\'');
    }
    request.format = format == u"jsonl" ? ExportFormat::JsonLines : ExportFormat::Csv;
    const QString table = parser.value(QStringLiteral("table"));
    request.messages = table == u"messages";
    if (!table.isEmpty() && table != u"events" && !request.messages) {
        return usage(QStringLiteral("--table takes events or messages, not '") + table + u'\'');
    }
    request.activity = parser.isSet(QStringLiteral("activity"));
    if (request.activity && (request.messages || format == u"jsonl")) {
        return usage(QStringLiteral("--activity counts events and writes CSV"));
    }
    if (!request.activity &&
        (parser.isSet(QStringLiteral("bucket")) || parser.isSet(QStringLiteral("split")))) {
        return usage(QStringLiteral("--bucket and --split go with --activity"));
    }
    if (request.messages && parser.isSet(QStringLiteral("data"))) {
        return usage(QStringLiteral("--data filters events only"));
    }
    EventQuery& query = request.query;
    query.order = EventQuery::Order::Ascending;
    for (const auto& [option, bound] : {std::pair{QStringLiteral("from"), &query.from},
                                        std::pair{QStringLiteral("to"), &query.to}}) {
        const std::optional<QString> stored = storedBound(parser, option);
        if (!stored) {
            return usage(u"--" + option + QStringLiteral(" names no time: '") +
                         parser.value(option) + u'\'');
        }
        *bound = *stored;
    }
    query.source = parser.value(QStringLiteral("source"));
    query.type = parser.value(QStringLiteral("type"));
    query.data = parser.value(QStringLiteral("data"));
    if (request.activity) {
        const Result<ActivityQuery> chart = activityQuery(parser, query);
        if (!chart) {
            return chart.problem();
        }
        request.chart = chart.value();
    }
    return request;
}

// Opens the database the settings of the logger's own folders name, also those of an installed
// program (XDG_DATA_HOME). The exit status when it cannot.
std::optional<int> openStore(Store& store, const QString& appDir) {
    const StartupPlace place = StartupPlace::ofThisProcess(appDir);
    if (!place.appDir.isEmpty() && !QFileInfo(place.appDir).isDir()) {
        return fail(kUsage,
                    QStringLiteral("--app-dir ") + place.appDir + QStringLiteral(" is no folder"));
    }
    const AppFolders folders = AppFolders::locate(place);
    if (const QString notice = AppFolders::ownFolderNotice(place); !notice.isEmpty()) {
        std::fprintf(stderr, "quilljot export: reading %s, %s\n", qPrintable(folders.appPath()),
                     qPrintable(notice));
    }
    MemoryReporter reporter;
    const SettingsStore settingsStore(folders, reporter);
    const SettingsStore::Loaded loaded = settingsStore.load(settingsStore.defaults());
    for (const Problem& p : loaded.problems) {
        std::fprintf(stderr, "quilljot export: settings: %s\n", qPrintable(p.description));
    }
    if (const Status opened = store.openForReading(loaded.settings.database); !opened) {
        return fail(kFailed,
                    QStringLiteral("cannot read the database: ") + opened.problem().description);
    }
    return std::nullopt;
}

// The rows of the events or messages table that `request` names, with a bar on a terminal.
int writeRows(Store& store, const Request& request, Output& out) {
    const EventQuery& query = request.query;
    std::optional<ProgressBar> bar;
    if (::isatty(STDERR_FILENO) != 0) {
        // The messages table is not counted ahead: the bar shows the rows written.
        const Result<qint64> total =
            request.messages ? Result<qint64>(0) : store.countEvents(query);
        bar.emplace(total ? total.value() : 0);
    }
    const auto progress = [&](qint64 rows) {
        if (bar) {
            bar->show(rows);
        }
        return true;
    };
    Result<qint64> written = qint64(0);
    if (request.messages) {
        MessageQuery m;
        m.from = query.from;
        m.to = query.to;
        m.source = query.source;
        m.messageClass = query.type;
        written = MessageExport::write(store, m, request.format, out.device(), progress);
    } else {
        written = EventExport::write(store, query, request.format, out.device(), progress);
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

}  // namespace

namespace ExportCommand {

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    if (const std::optional<int> ended = parseCommandLine(parser, arguments)) {
        return *ended;
    }
    const Result<Request> request = readRequest(parser);
    if (!request) {
        return fail(kUsage, request.problem().description);
    }
    Store store;
    if (const std::optional<int> failed =
            openStore(store, parser.value(QStringLiteral("app-dir")))) {
        return *failed;
    }
    Output out(parser.value(QStringLiteral("output")));
    if (!out.isOpen()) {
        return fail(kFailed, QStringLiteral("cannot write ") + parser.value(QStringLiteral("o")) +
                                 QStringLiteral(": ") + out.errorString());
    }
    if (request.value().activity) {
        return writeActivity(store, request.value().chart, out);
    }
    return writeRows(store, request.value(), out);
}

}  // namespace ExportCommand
