#pragma once

#include <QTimer>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class LoggerCore;
class XapGlobal;

// "Quilljot Snapshot": one line per logged event as it happens, or on request the rows of the
// last seven days read back from the database, narrowed by three filters. Closing only hides it
// while the program runs; its size and filters persist in the settings.
class EchoWindow : public QWidget {
    Q_OBJECT

public:
    EchoWindow(XapGlobal& global, LoggerCore& logger, QWidget* parent = nullptr);

    void Form_Load();
    void Echo(const QString& s0, const QString& s1, const QString& s2, const QString& s3);
    void ScrollEchoWindows();
    void aHistory_Click();

    // The echo text as the window holds it; the text box shows it at most 100 ms later.
    const QString& echoText() const { return m_text; }
    void setEchoText(const QString& text);
    // Shows the held text in the text box now.
    void refresh();

    double twipsPerPixelX() const;
    double twipsPerPixelY() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FillWindowFromDatabase();
    void RestoreEchoText() { setEchoText(m_savedEcho); }
    void save(const QString& key, const QString& value);
    QString setting(const QString& key, const QString& fallback);

    XapGlobal& m_g;
    LoggerCore& m_logger;
    QPushButton* m_history;
    QLineEdit* m_sourceFilter;
    QLineEdit* m_categoryFilter;
    QLineEdit* m_dataFilter;
    QCheckBox* m_freeze;
    QPlainTextEdit* m_commData;
    QString m_text;
    QString m_savedEcho;
    QTimer m_refresh;
};
