#pragma once

#include <QTimer>
#include <QWidget>

#include "store/LogEvent.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class Logger;

// "Quilljot Snapshot": one line per logged event as it happens, or on request the rows of the
// last seven days read back from the database, narrowed by three filters. Closing only hides it
// while the program runs; its size and filters persist in the settings.
class EchoWindow : public QWidget {
    Q_OBJECT

public:
    explicit EchoWindow(Logger& logger, QWidget* parent = nullptr);

    // Takes size and filters from the settings.
    void restore();
    void addEvent(const LogEvent& event);
    // Switches between the live lines and the history read from the database.
    void toggleHistory();
    bool showingHistory() const { return m_showingHistory; }
    // From now on closing the window ends it instead of hiding it.
    void closeForGood();

    // The echo text as the window holds it; the text box shows it at most 100 ms later.
    const QString& echoText() const { return m_text; }
    // Shows the held text in the text box now.
    void refresh();

    double twipsPerPixelX() const;
    double twipsPerPixelY() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fillFromDatabase();
    void scrollToEnd();
    void setEchoText(const QString& text);

    Logger& m_logger;
    QPushButton* m_history;
    QLineEdit* m_sourceFilter;
    QLineEdit* m_typeFilter;
    QLineEdit* m_dataFilter;
    QCheckBox* m_freeze;
    QPlainTextEdit* m_lines;
    QString m_text;
    QString m_liveText;
    QTimer m_refresh;
    bool m_showingHistory = false;
    bool m_closingForGood = false;
};
