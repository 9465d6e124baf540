#include "ui/HistoryView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

#include "store/EventExport.h"
#include "store/Store.h"
#include "ui/ActivityChartView.h"
#include "ui/HistoryModel.h"

namespace {

QString startOfDay(const QDate& day) {
    return day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
}

}  // namespace

HistoryView::HistoryView(const QDate& today, QWidget* parent)
    : QWidget(parent), m_model(new HistoryModel(this)), m_chartReader(std::make_unique<Store>()) {
    setObjectName(QStringLiteral("historyView"));
    QHBoxLayout* controls = makeControlRow(today);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("historyProblem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problem->hide();
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("historyNote"));
    m_note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_note->hide();

    m_chart = new ActivityChartView(this);
    m_chart->setToolTip(
        QStringLiteral("Events per interval; click or drag over bars to narrow the "
                       "range to them"));
    connect(m_chart, &ActivityChartView::rangeChosen, this, &HistoryView::narrowTo);
    m_narrowNote = new QLabel(this);
    m_narrowNote->setObjectName(QStringLiteral("narrowNote"));
    m_narrowNote->hide();

    makeTable();
    connect(m_model, &HistoryModel::rowsInserted, this, &HistoryView::showTally);
    connect(m_model, &HistoryModel::modelReset, this, &HistoryView::showTally);
    connect(m_model, &HistoryModel::pageFailed, this, &HistoryView::showProblem);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(controls);
    column->addWidget(m_problem);
    column->addWidget(m_note);
    column->addWidget(m_chart);
    column->addWidget(m_narrowNote);
    column->addWidget(m_table, 1);
}

QHBoxLayout* HistoryView::makeControlRow(const QDate& today) {
    m_from = new QDateEdit(today.addDays(-7), this);
    m_from->setObjectName(QStringLiteral("fromDate"));
    m_to = new QDateEdit(today, this);
    m_to->setObjectName(QStringLiteral("toDate"));
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    m_from->setToolTip(QStringLiteral("The first day shown (from midnight)"));
    m_to->setToolTip(QStringLiteral("The last day shown (until midnight after it)"));
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    refresh->setObjectName(QStringLiteral("refreshHistory"));
    refresh->setToolTip(QStringLiteral("Read the range from the database again"));
    auto* copy = new QPushButton(QStringLiteral("Copy"), this);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setToolTip(QStringLiteral("Copy the selected rows as text, one per line (Ctrl+C)"));
    m_export = new QPushButton(QStringLiteral("Export…"), this);
    m_export->setObjectName(QStringLiteral("exportButton"));
    m_export->setToolTip(QStringLiteral("Write every row of the range and filters to a CSV file"));
    m_tally = new QLabel(this);
    m_tally->setObjectName(QStringLiteral("historyTally"));
    connect(copy, &QPushButton::clicked, this, &HistoryView::copySelection);
    connect(refresh, &QPushButton::clicked, this, &HistoryView::run);
    connect(m_export, &QPushButton::clicked, this, &HistoryView::chooseAndExport);
    for (QDateEdit* edit : {m_from, m_to}) {
        connect(edit, &QDateEdit::dateChanged, this, [this] {
            m_rangeChosen = true;
            m_narrowed.reset();
            m_narrowNote->hide();
            run();
        });
    }

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("From"), this));
    row->addWidget(m_from);
    row->addWidget(new QLabel(QStringLiteral("To"), this));
    row->addWidget(m_to);
    row->addWidget(refresh);
    row->addSpacing(12);
    row->addWidget(m_tally, 1);
    row->addWidget(copy);
    row->addWidget(m_export);
    return row;
}

void HistoryView::makeTable() {
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("historyTable"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    // Rows of one height let the view place a million of them without measuring each.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    QHeaderView* header = m_table->horizontalHeader();
    header->setStretchLastSection(true);
    header->resizeSection(
        HistoryModel::Time,
        m_table->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 24);
    header->resizeSection(HistoryModel::Source, 170);
    header->resizeSection(HistoryModel::Type, 90);
    header->setSortIndicator(HistoryModel::Time, Qt::DescendingOrder);
    m_table->setSortingEnabled(true);
    header->setToolTip(QStringLiteral("Click a column to sort by it, again to reverse the order"));

    auto* copyAction = new QAction(this);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_table->addAction(copyAction);
    connect(copyAction, &QAction::triggered, this, &HistoryView::copySelection);
}

void HistoryView::setDatabase(const DatabaseSettings& database) {
    m_database = database;
}

void HistoryView::setFilters(const QString& source, const QString& type, const QString& data) {
    m_source = source;
    m_type = type;
    m_data = data;
}

bool HistoryView::followToday(const QDate& today) {
    if (m_rangeChosen || m_to->date() == today) {
        return false;
    }
    const QSignalBlocker a(m_from), b(m_to);
    m_from->setDate(today.addDays(-7));
    m_to->setDate(today);
    return true;
}

HistoryView::~HistoryView() = default;

EventQuery HistoryView::query() const {
    EventQuery q;
    q.from = m_narrowed ? m_narrowed->first : startOfDay(m_from->date());
    q.to = m_narrowed ? m_narrowed->second : startOfDay(m_to->date().addDays(1));
    q.source = m_source;
    q.type = m_type;
    q.data = m_data;
    q.sortBy = m_model->query().sortBy;
    q.order = m_model->query().order;
    return q;
}

void HistoryView::run() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Status read = m_model->run(m_database, query());
    QApplication::restoreOverrideCursor();
    m_note->hide();
    if (read) {
        m_problem->hide();
        m_problem->clear();
    } else {
        showProblem(read.problem().description);
    }
    showTally();
    runChart();
}

void HistoryView::narrowTo(const QString& from, const QString& to) {
    const QDate first = QDate::fromString(from.left(10), QStringLiteral("yyyy-MM-dd"));
    // The last day the range takes: `to` is the first time it no longer takes.
    const QDate last = QDate::fromString(to.left(10), QStringLiteral("yyyy-MM-dd"))
                           .addDays(to.mid(11) == u"00:00:00" ? -1 : 0);
    {
        const QSignalBlocker a(m_from), b(m_to);
        m_from->setDate(first);
        m_to->setDate(std::max(first, last));
    }
    m_rangeChosen = true;
    m_narrowed = std::pair{from, to};
    m_narrowNote->setText(QStringLiteral("Narrowed by the chart to %1 – %2; change a date to see "
                                         "whole days.")
                              .arg(from.left(16), to.left(16)));
    m_narrowNote->show();
    run();
}

void HistoryView::runChart() {
    const EventQuery events = query();
    ActivityQuery q;
    q.from = events.from;
    q.to = events.to;
    q.bucket = ActivityQuery::bucketFor(q.from, q.to);
    q.source = m_source;
    q.type = m_type;
    q.data = m_data;
    if (!m_chartReader->readFrom(m_database)) {
        m_chart->clear();
        return;
    }
    std::unique_ptr<QProgressDialog> progress;
    if (!q.data.isEmpty()) {
        progress = std::make_unique<QProgressDialog>(
            QStringLiteral("Counting the rows whose data contains \"%1\"…").arg(q.data),
            QStringLiteral("Stop"), 0, 1, this);
        progress->setWindowTitle(QStringLiteral("Chart"));
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(300);
    }
    const Result<ActivityChart> chart =
        m_chartReader->activity(q, [&progress](int done, int total) {
            if (!progress) {
                return true;
            }
            progress->setMaximum(total);
            progress->setValue(done);
            QCoreApplication::processEvents();
            return !progress->wasCanceled();
        });
    if (!chart) {
        m_chart->clear();
        return;
    }
    m_chart->show(chart.value(), q.bucket,
                  ActivityBuckets::next(q.bucket, chart.value().buckets.last().start));
}

void HistoryView::showProblem(const QString& problem) {
    m_problem->setText(QStringLiteral("The history could not be read: ") + problem);
    m_problem->show();
}

void HistoryView::showTally() {
    const qint64 total = m_model->total();
    const int loaded = m_model->rowCount();
    QString text = total == 1 ? QStringLiteral("1 row") : QStringLiteral("%L1 rows").arg(total);
    if (loaded < total) {
        text += QStringLiteral(" (%L1 read so far; scroll for more)").arg(loaded);
    }
    m_tally->setText(text);
    m_export->setEnabled(total > 0);
}

void HistoryView::copySelection() {
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    if (!rows.isEmpty()) {
        QApplication::clipboard()->setText(m_model->rowsAsText(rows));
    }
}

Result<qint64> HistoryView::exportTo(const QString& path,
                                     const std::function<bool(qint64)>& progress) const {
    // The file appears whole or not at all; a reader of its own leaves the table's paging alone.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return Problem{ErrorKind::FileSystem, path + QStringLiteral(": ") + file.errorString()};
    }
    Store store;
    if (const Status opened = store.openForReading(m_database); !opened) {
        file.cancelWriting();
        return opened.problem();
    }
    bool stopped = false;
    const Result<qint64> written =
        EventExport::write(store, query(), ExportFormat::Csv, file, [&](qint64 rows) {
            stopped = progress && !progress(rows);
            return !stopped;
        });
    if (!written || stopped) {
        file.cancelWriting();
        return written ? Result<qint64>(Problem{ErrorKind::Generic,
                                                QStringLiteral("stopped; no file written")})
                       : written;
    }
    if (!file.commit()) {
        return Problem{ErrorKind::FileSystem, path + QStringLiteral(": ") + file.errorString()};
    }
    return written;
}

void HistoryView::chooseAndExport() {
    const EventQuery q = query();
    const QString name =
        QStringLiteral("quilljot-%1-to-%2.csv")
            .arg(m_from->date().toString(Qt::ISODate), m_to->date().toString(Qt::ISODate));
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export to CSV"), QDir::home().filePath(name),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    const qint64 total = m_model->total();
    QProgressDialog progress(QStringLiteral("Exporting %L1 rows…").arg(total),
                             QStringLiteral("Stop"), 0, int(std::min<qint64>(total, INT_MAX)),
                             this);
    progress.setWindowTitle(QStringLiteral("Export"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    const Result<qint64> written = exportTo(path, [&progress](qint64 rows) {
        progress.setValue(int(std::min<qint64>(rows, progress.maximum())));
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    if (written) {
        m_note->setText(QStringLiteral("%L1 rows exported to %2").arg(written.value()).arg(path));
        m_note->show();
    } else {
        m_problem->setText(
            QStringLiteral("The export to %1 failed: %2").arg(path, written.problem().description));
        m_problem->show();
    }
}
