#pragma once

#include <QDialog>

class QLineEdit;
class QRadioButton;
class Logger;

// "Quilljot Setup": chooses the database the logger writes to. However it is closed, it saves
// the choice and has it take effect at once.
class SetupDialog : public QDialog {
    Q_OBJECT

public:
    explicit SetupDialog(Logger& logger, QWidget* parent = nullptr);

    // Fills the fields from the settings the logger uses now.
    void showSettingsInEffect();
    void done(int result) override;

private:
    Logger& m_logger;
    QRadioButton* m_fileDatabase;
    QRadioButton* m_sqlServer;
    QRadioButton* m_postgreSql;
    QLineEdit* m_sqlSource;
    QLineEdit* m_database;
    QLineEdit* m_table;
    // The source as the settings hold it; the field shows it with the password masked, and an
    // unchanged field saves this text.
    QString m_clearSource;
};
