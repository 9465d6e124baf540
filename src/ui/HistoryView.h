#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "report/Result.h"
#include "settings/LoggerSettings.h"
#include "store/EventQuery.h"

class QDateEdit;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTableView;
class HistoryModel;
class ActivityChartView;
class Store;

// The echo window's history page: the stored events of a date range (From and To, both days
// taken; the last seven days at first) with the window's filters, newest first, as a table
// that reads more rows as it scrolls, under a chart of the events per interval whose bars narrow
// the range to a part of it; the number of rows the range holds; Copy of the selected rows and
// Export of the whole filtered range to CSV. What goes wrong is said on the page.
class HistoryView : public QWidget {
    Q_OBJECT

public:
    HistoryView(const QDate& today, QWidget* parent = nullptr);
    ~HistoryView() override;

    // The database to read and the filters to apply at the next run.
    void setDatabase(const DatabaseSettings& database);
    void setFilters(const QString& source, const QString& type, const QString& data);
    // Reads the chosen range again.
    void run();
    // The query the page's range and filters make, newest first.
    EventQuery query() const;
    // Copies the selected rows to the clipboard as tab-separated lines.
    void copySelection();
    // Moves the default range (the last seven days) to end on `today`, unless the user chose
    // a range; true when it moved.
    bool followToday(const QDate& today);
    // Writes every row of the range and filters to `path` as CSV, page by page; `progress`
    // (rows written so far) returning false stops it and leaves no file. The rows written.
    Result<qint64> exportTo(const QString& path,
                            const std::function<bool(qint64)>& progress = {}) const;
    // Asks for a file and exports to it, showing the progress.
    void chooseAndExport();

    HistoryModel* model() const { return m_model; }
    ActivityChartView* chart() const { return m_chart; }
    // Narrows the range to `from` up to `to` (stored times), as a drag over the chart does.
    void narrowTo(const QString& from, const QString& to);

private:
    // The parts the view is built of: dates, buttons and tally above the table.
    QHBoxLayout* makeControlRow(const QDate& today);
    void makeTable();
    void showTally();
    void showProblem(const QString& problem);
    // Reads the chart of the range and filters; with a data filter, which reads the rows, a
    // progress dialog lets it be stopped.
    void runChart();

    DatabaseSettings m_database;
    QString m_source;
    QString m_type;
    QString m_data;
    HistoryModel* m_model;
    QTableView* m_table;
    QDateEdit* m_from;
    QDateEdit* m_to;
    QLabel* m_tally;
    QLabel* m_problem;
    QLabel* m_note;
    QPushButton* m_export;
    ActivityChartView* m_chart;
    QLabel* m_narrowNote;
    std::unique_ptr<Store> m_chartReader;
    // A range chosen on the chart, within the days of the date fields.
    std::optional<std::pair<QString, QString>> m_narrowed;
    bool m_rangeChosen = false;
};
