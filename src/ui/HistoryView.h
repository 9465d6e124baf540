#pragma once

#include <QWidget>

#include <functional>

#include "report/Result.h"
#include "store/EventQuery.h"
#include "support/LoggerSettings.h"

class QDateEdit;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTableView;
class HistoryModel;

// The echo window's history page: the stored events of a date range (From and To, both days
// taken; the last seven days at first) with the window's filters, newest first, as a table
// that reads more rows as it scrolls; the number of rows the range holds; Copy of the selected
// rows and Export of the whole filtered range to CSV. What goes wrong is said on the page.
class HistoryView : public QWidget {
    Q_OBJECT

public:
    HistoryView(const QDate& today, QWidget* parent = nullptr);

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

private:
    // The parts the view is built of: dates, buttons and tally above the table.
    QHBoxLayout* makeControlRow(const QDate& today);
    void makeTable();
    void showTally();
    void showProblem(const QString& problem);

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
    bool m_rangeChosen = false;
};
