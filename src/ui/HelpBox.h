#pragma once

#include <QDialog>

class LoggerControl;

// "About Quilljot": the version, where the README is, and where this logger keeps its settings,
// its database and its text log; a button opens the README.
class HelpBox : public QDialog {
    Q_OBJECT

public:
    explicit HelpBox(LoggerControl& logger, QWidget* parent = nullptr);

    // Fills in the places the logger uses now.
    void refresh();
    // The README beside an installed program, else the one of the checkout it was built from;
    // empty when neither is there.
    static QString readmePath(const QString& programFile);

private:
    LoggerControl& m_logger;
    class QLabel* m_text;
    class QPushButton* m_openReadme;
};
