#pragma once

#include <QWidget>

class QFormLayout;
class QLabel;
class QPlainTextEdit;
class QTimer;
class ActivityChartView;
class LoggerControl;

// "Quilljot Status": what the running logger is doing: its node's port and addresses, whether a
// hub has been heard from, the database in use and whether it is open, how many events came,
// were written, refused or wait in the spool, a chart of the events per minute of the last 24
// hours, the sources of events that went quiet, and its last ten reports. Kept current while
// shown; the chart comes from the counts the logger keeps in memory, once a minute, so a busy
// day costs it no database read.
class StatusWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kShownReports = 10;
    static constexpr int kShownQuietSources = 10;
    static constexpr int kChartHours = 24;
    static constexpr int kChartEveryMs = 60 * 1000;
    // While the logger counts the last day from the database: how soon the chart is asked again.
    static constexpr int kChartAgainMs = 2 * 1000;

    explicit StatusWindow(LoggerControl& logger, QWidget* parent = nullptr);
    ~StatusWindow() override;

    void refresh();
    // Takes the chart of the last kChartHours hours again.
    void refreshChart();
    ActivityChartView* chart() const { return m_chart; }
    // The shown value of a line ("node", "hub", "database", "events", "quiet", ...), for tests and
    // tools.
    QString lineText(const QString& name) const;

signals:
    // A click or drag on the chart: the history of that range is wanted (stored form, `to` no
    // longer taken).
    void historyAsked(const QString& from, const QString& to);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QLabel* addLine(QFormLayout* form, const QString& caption, const QString& name);

    LoggerControl& m_logger;
    QLabel* m_node;
    QLabel* m_hub;
    QLabel* m_database;
    QLabel* m_events;
    QLabel* m_quiet;
    ActivityChartView* m_chart;
    QLabel* m_chartProblem;
    QTimer* m_chartTimer;
    QLabel* m_reportCount;
    QPlainTextEdit* m_reports;
    QMetaObject::Connection m_watch;
};
