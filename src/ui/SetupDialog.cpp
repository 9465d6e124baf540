#include "ui/SetupDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "logger/LoggerCore.h"
#include "support/Hs.h"
#include "support/PathRules.h"
#include "support/XapGlobal.h"

namespace {
const QString kIniFile = QStringLiteral("zelXapQuilljot.ini");
const QString kGroup = QStringLiteral("Quilljot");
}  // namespace

SetupDialog::SetupDialog(XapGlobal& global, std::function<void()> apply, QWidget* parent)
    : QDialog(parent), m_g(global), m_apply(std::move(apply)) {
    setObjectName(QStringLiteral("SetupForm"));
    setWindowTitle(QStringLiteral("Quilljot Setup"));
    setModal(false);

    auto* frame = new QGroupBox(QStringLiteral("Provider"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    m_access = new QRadioButton(QStringLiteral("Access"), frame);
    m_access->setObjectName(QStringLiteral("aProviderOption0"));
    m_sql = new QRadioButton(QStringLiteral("SQL"), frame);
    m_sql->setObjectName(QStringLiteral("aProviderOption1"));
    auto* options = new QHBoxLayout(frame);
    options->addWidget(m_access);
    options->addWidget(m_sql);
    options->addStretch();

    m_sqlSource = new QLineEdit(this);
    m_sqlSource->setObjectName(QStringLiteral("aSQLSource"));
    m_database = new QLineEdit(this);
    m_database->setObjectName(QStringLiteral("aDatabase"));
    m_database->setMinimumWidth(380);
    m_table = new QLineEdit(this);
    m_table->setObjectName(QStringLiteral("aTable"));
    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("SQL Source"), m_sqlSource);
    fields->addRow(QStringLiteral("Database"), m_database);
    fields->addRow(QStringLiteral("Table"), m_table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* column = new QVBoxLayout(this);
    column->addWidget(frame);
    column->addLayout(fields);
    column->addWidget(buttons);
}

void SetupDialog::Form_Load() {
    Hs& hs = m_g.hs();
    bool useSql = false;
    try {
        useSql = LoggerCore::readBoolean(
            hs.GetINISetting(kGroup, QStringLiteral("UseSQL"), QStringLiteral("0"), kIniFile));
    } catch (const std::exception&) {
        useSql = false;  // text that is no boolean shows the file database, as the logger uses it
    }
    m_sql->setChecked(useSql);
    m_access->setChecked(!useSql);
    m_sqlSource->setText(
        hs.GetINISetting(kGroup, QStringLiteral("SQLSource"), QString(), kIniFile));
    m_database->setText(hs.GetINISetting(
        kGroup, QStringLiteral("Database"),
        PathRules::join(PathRules::join(PathRules::join(m_g.AppPath, QStringLiteral("Data")),
                                        QStringLiteral("Xap")),
                        QStringLiteral("Quilljot.mdb")),
        kIniFile));
    m_table->setText(hs.GetINISetting(kGroup, QStringLiteral("DatabaseTable"),
                                      QStringLiteral("tblQuilljot"), kIniFile));
}

void SetupDialog::Form_unload() {
    Hs& hs = m_g.hs();
    hs.SaveIniSetting(kGroup, QStringLiteral("UseSQL"),
                      m_sql->isChecked() ? QStringLiteral("True") : QStringLiteral("False"),
                      kIniFile);
    hs.SaveIniSetting(kGroup, QStringLiteral("SQLSource"), m_sqlSource->text(), kIniFile);
    hs.SaveIniSetting(kGroup, QStringLiteral("Database"), m_database->text(), kIniFile);
    hs.SaveIniSetting(kGroup, QStringLiteral("DatabaseTable"), m_table->text(), kIniFile);
    if (m_apply) {
        m_apply();
    }
}

void SetupDialog::done(int result) {
    if (isVisible()) {
        Form_unload();
    }
    QDialog::done(result);
}
