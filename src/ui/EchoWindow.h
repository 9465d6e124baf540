#pragma once

#include <QTimer>
#include <QWidget>

#include "store/LogEvent.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListView;
class QTabWidget;
class HistoryView;
class LiveEventModel;
class LoggerControl;

// "Quilljot Snapshot": two separate views under one row of filters (Source, Type, Data). Live
// shows a line per logged event as it happens, in the console echo's format; History shows the
// stored events of a date range as a table. Closing only hides the window while the program
// runs; its size and filters persist in the settings.
class EchoWindow : public QWidget {
    Q_OBJECT

public:
    explicit EchoWindow(LoggerControl& logger, QWidget* parent = nullptr);

    // Takes size and filters from the settings.
    void restore();
    void addEvents(const QList<LogEvent>& events);
    void showHistory();
    void showLive();
    bool showingHistory() const;
    // From now on closing the window ends it instead of hiding it.
    void closeForGood();

    // The live lines shown, oldest first.
    QStringList liveLines() const;
    LiveEventModel* liveModel() const { return m_live; }
    HistoryView* history() const { return m_history; }

    double twipsPerPixelX() const;
    double twipsPerPixelY() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The parts the window is built of.
    QHBoxLayout* makeFilterRow();
    QWidget* makeLivePage();
    void followTheLiveLines();
    void readTheHistoryWhenShown();

    void applyFilters();
    void showLiveTally();
    void followNewest();

    LoggerControl& m_logger;
    QLineEdit* m_sourceFilter;
    QLineEdit* m_typeFilter;
    QLineEdit* m_dataFilter;
    QTabWidget* m_views;
    LiveEventModel* m_live;
    QListView* m_lines;
    QCheckBox* m_freeze;
    QLabel* m_liveTally;
    HistoryView* m_history;
    // The history is read again when its range, filters or database changed since it was read;
    // filters typed while it is shown wait for a pause in the typing.
    bool m_historyStale = true;
    QTimer m_filterPause;
    bool m_atNewest = true;
    bool m_closingForGood = false;
};
