#pragma once

#include <QWidget>

class QFormLayout;
class QLabel;
class QPlainTextEdit;
class LoggerControl;

// "Quilljot Status": what the running logger is doing: its node's port and addresses, whether a
// hub has been heard from, the database in use and whether it is open, how many events came,
// were written, refused or wait in the spool, the sources of events that went quiet, and its last
// ten reports. Kept current while shown.
class StatusWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kShownReports = 10;
    static constexpr int kShownQuietSources = 10;

    explicit StatusWindow(LoggerControl& logger, QWidget* parent = nullptr);

    void refresh();
    // The shown value of a line ("node", "hub", "database", "events", "quiet", ...), for tests and
    // tools.
    QString lineText(const QString& name) const;

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
    QLabel* m_reportCount;
    QPlainTextEdit* m_reports;
    QMetaObject::Connection m_watch;
};
