#pragma once

#include <QDialog>
#include <functional>

class QLineEdit;
class QRadioButton;
class XapGlobal;

// "Quilljot Setup": chooses the database the logger writes to. However it is closed, it saves
// the four settings and has them take effect at once.
class SetupDialog : public QDialog {
    Q_OBJECT

public:
    // `apply` runs after the settings are saved (the logger re-reads them and reconnects).
    SetupDialog(XapGlobal& global, std::function<void()> apply, QWidget* parent = nullptr);

    void Form_Load();
    void done(int result) override;

private:
    void Form_unload();

    XapGlobal& m_g;
    std::function<void()> m_apply;
    QRadioButton* m_access;
    QRadioButton* m_sql;
    QLineEdit* m_sqlSource;
    QLineEdit* m_database;
    QLineEdit* m_table;
};
