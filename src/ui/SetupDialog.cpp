#include "ui/SetupDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "logger/Logger.h"
#include "store/ServerSource.h"

SetupDialog::SetupDialog(Logger& logger, QWidget* parent) : QDialog(parent), m_logger(logger) {
    setObjectName(QStringLiteral("setupDialog"));
    setWindowTitle(QStringLiteral("Quilljot Setup"));
    setModal(false);

    auto* frame = new QGroupBox(QStringLiteral("Provider"), this);
    frame->setObjectName(QStringLiteral("providerFrame"));
    m_fileDatabase = new QRadioButton(QStringLiteral("Access"), frame);
    m_fileDatabase->setObjectName(QStringLiteral("fileDatabaseOption"));
    m_sqlServer = new QRadioButton(QStringLiteral("SQL"), frame);
    m_sqlServer->setObjectName(QStringLiteral("sqlServerOption"));
    m_postgreSql = new QRadioButton(QStringLiteral("PostgreSQL"), frame);
    m_postgreSql->setObjectName(QStringLiteral("postgresqlOption"));
    auto* options = new QHBoxLayout(frame);
    options->addWidget(m_fileDatabase);
    options->addWidget(m_sqlServer);
    options->addWidget(m_postgreSql);
    options->addStretch();

    m_sqlSource = new QLineEdit(this);
    m_sqlSource->setObjectName(QStringLiteral("sqlSourceField"));
    m_database = new QLineEdit(this);
    m_database->setObjectName(QStringLiteral("databaseField"));
    m_database->setMinimumWidth(380);
    m_table = new QLineEdit(this);
    m_table->setObjectName(QStringLiteral("tableField"));
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

void SetupDialog::showSettingsInEffect() {
    const DatabaseSettings& d = m_logger.settings().database;
    m_sqlServer->setChecked(d.kind == DatabaseKind::SqlServer);
    m_fileDatabase->setChecked(d.kind == DatabaseKind::File);
    m_postgreSql->setChecked(d.kind == DatabaseKind::PostgreSql);
    m_clearSource = d.sqlSource;
    m_sqlSource->setText(ServerSource::redactedSource(d.sqlSource));
    m_database->setText(d.database);
    m_table->setText(d.table);
}

void SetupDialog::done(int result) {
    if (isVisible()) {
        const DatabaseKind kind = m_sqlServer->isChecked()    ? DatabaseKind::SqlServer
                                  : m_postgreSql->isChecked() ? DatabaseKind::PostgreSql
                                                              : DatabaseKind::File;
        // An unchanged field keeps the password it shows masked.
        const QString source = m_sqlSource->text() == ServerSource::redactedSource(m_clearSource)
                                   ? m_clearSource
                                   : m_sqlSource->text();
        (void)m_logger.applyDatabaseSettings(
            DatabaseSettings{kind, source, m_database->text(), m_table->text()});
    }
    QDialog::done(result);
}
