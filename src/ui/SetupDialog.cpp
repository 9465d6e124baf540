#include "ui/SetupDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

#include "logger/LoggerControl.h"
#include "store/ServerSource.h"
#include "store/Store.h"
#include "support/ProgramNames.h"

SetupDialog::SetupDialog(LoggerControl& logger, QWidget* parent)
    : QDialog(parent), m_logger(logger) {
    setObjectName(QStringLiteral("setupDialog"));
    setWindowTitle(QStringLiteral("Quilljot Setup"));
    setModal(false);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("setupMessage"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* column = new QVBoxLayout(this);
    column->addWidget(makeEngineChoice());
    column->addLayout(makeFields());
    column->addWidget(m_message);
    column->addLayout(makeSettingsFileRow());
    column->addWidget(makeButtons());
}

QGroupBox* SetupDialog::makeEngineChoice() {
    auto* frame = new QGroupBox(QStringLiteral("Provider"), this);
    frame->setObjectName(QStringLiteral("providerFrame"));
    m_fileDatabase = new QRadioButton(QStringLiteral("Access"), frame);
    m_fileDatabase->setObjectName(QStringLiteral("fileDatabaseOption"));
    m_fileDatabase->setToolTip(QStringLiteral("A database file on this computer (SQLite)"));
    m_sqlServer = new QRadioButton(QStringLiteral("SQL"), frame);
    m_sqlServer->setObjectName(QStringLiteral("sqlServerOption"));
    m_sqlServer->setToolTip(QStringLiteral("A database on a Microsoft SQL Server"));
    m_postgreSql = new QRadioButton(QStringLiteral("PostgreSQL"), frame);
    m_postgreSql->setObjectName(QStringLiteral("postgresqlOption"));
    m_postgreSql->setToolTip(QStringLiteral("A database on a PostgreSQL server"));
    auto* options = new QHBoxLayout(frame);
    options->addWidget(m_fileDatabase);
    options->addWidget(m_sqlServer);
    options->addWidget(m_postgreSql);
    options->addStretch();

    for (QRadioButton* option : {m_fileDatabase, m_sqlServer, m_postgreSql}) {
        connect(option, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                followKind();
            }
        });
    }
    return frame;
}

QFormLayout* SetupDialog::makeFields() {
    m_sqlSource = new QLineEdit(this);
    m_sqlSource->setObjectName(QStringLiteral("sqlSourceField"));
    m_sqlSource->setPlaceholderText(QStringLiteral("host,port; User ID=name; Password=secret"));
    m_database = new QLineEdit(this);
    m_database->setObjectName(QStringLiteral("databaseField"));
    m_database->setMinimumWidth(380);
    m_browse = new QPushButton(QStringLiteral("Browse…"), this);
    m_browse->setObjectName(QStringLiteral("browseButton"));
    auto* databaseRow = new QHBoxLayout;
    databaseRow->addWidget(m_database, 1);
    databaseRow->addWidget(m_browse);
    m_table = new QLineEdit(this);
    m_table->setObjectName(QStringLiteral("tableField"));
    m_sourceLabel = new QLabel(QStringLiteral("SQL Source"), this);
    m_databaseLabel = new QLabel(QStringLiteral("Database"), this);
    m_databaseLabel->setObjectName(QStringLiteral("databaseLabel"));
    auto* fields = new QFormLayout;
    fields->addRow(m_sourceLabel, m_sqlSource);
    fields->addRow(m_databaseLabel, databaseRow);
    fields->addRow(QStringLiteral("Table"), m_table);

    connect(m_browse, &QPushButton::clicked, this, &SetupDialog::browse);
    return fields;
}

QHBoxLayout* SetupDialog::makeSettingsFileRow() {
    auto* where = new QLabel(QStringLiteral("Settings file: ") +
                                 m_logger.folders().configFile(ProgramNames::kLoggerSettingsFile),
                             this);
    where->setObjectName(QStringLiteral("settingsFileLabel"));
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* openFolder = new QPushButton(QStringLiteral("Open settings folder"), this);
    openFolder->setObjectName(QStringLiteral("openSettingsFolderButton"));
    openFolder->setToolTip(QStringLiteral("The folder holds both settings files (plain INI)"));
    connect(openFolder, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(
            QFileInfo(m_logger.folders().configFile(ProgramNames::kLoggerSettingsFile))
                .absolutePath()));
    });
    auto* whereRow = new QHBoxLayout;
    whereRow->addWidget(where, 1);
    whereRow->addWidget(openFolder);

    return whereRow;
}

QDialogButtonBox* SetupDialog::makeButtons() {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    QPushButton* test =
        buttons->addButton(QStringLiteral("Test connection"), QDialogButtonBox::ActionRole);
    test->setObjectName(QStringLiteral("testConnectionButton"));
    buttons->button(QDialogButtonBox::Save)->setObjectName(QStringLiteral("saveButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SetupDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(test, &QPushButton::clicked, this, &SetupDialog::testConnection);

    return buttons;
}

DatabaseKind SetupDialog::chosenKind() const {
    return m_sqlServer->isChecked()    ? DatabaseKind::SqlServer
           : m_postgreSql->isChecked() ? DatabaseKind::PostgreSql
                                       : DatabaseKind::File;
}

void SetupDialog::showSettingsInEffect() {
    const DatabaseSettings& d = m_logger.settings().database;
    m_filePath =
        d.kind == DatabaseKind::File ? d.database : m_logger.folders().defaultDatabasePath();
    m_serverDatabase = d.kind == DatabaseKind::File ? QString() : d.database;
    m_shownKind = d.kind;
    m_database->setText(d.database);
    {
        // The fields are filled here; switching kinds moves texts only when the user does it.
        const QSignalBlocker a(m_fileDatabase), b(m_sqlServer), c(m_postgreSql);
        m_sqlServer->setChecked(d.kind == DatabaseKind::SqlServer);
        m_fileDatabase->setChecked(d.kind == DatabaseKind::File);
        m_postgreSql->setChecked(d.kind == DatabaseKind::PostgreSql);
    }
    m_clearSource = d.sqlSource;
    m_sqlSource->setText(ServerSource::redactedSource(d.sqlSource));
    m_table->setText(d.table);
    m_message->clear();
    followKind();
}

void SetupDialog::followKind() {
    const DatabaseKind kind = chosenKind();
    const bool file = kind == DatabaseKind::File;
    if ((m_shownKind == DatabaseKind::File) != file) {
        (file ? m_serverDatabase : m_filePath) = m_database->text();
        m_database->setText(file ? m_filePath : m_serverDatabase);
    }
    m_shownKind = kind;
    m_sourceLabel->setEnabled(!file);
    m_sqlSource->setEnabled(!file);
    m_browse->setVisible(file);
    m_databaseLabel->setText(file ? QStringLiteral("Database file")
                                  : QStringLiteral("Database on the server"));
    m_database->setPlaceholderText(file ? QStringLiteral("path of the database file")
                                        : QStringLiteral("name (letters, digits, _)"));
    m_database->setToolTip(file ? QStringLiteral("The file is made when it does not exist yet")
                                : QStringLiteral("The database is made on the server when it "
                                                 "does not exist yet"));
    m_message->clear();
}

void SetupDialog::browse() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Database file"), m_database->text(),
        QStringLiteral("Database files (*.mdb *.db *.sqlite);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) {
        m_database->setText(path);
    }
}

DatabaseSettings SetupDialog::chosenSettings() const {
    const DatabaseKind kind = chosenKind();
    // An unchanged field keeps the password it shows masked.
    const QString source = m_sqlSource->text() == ServerSource::redactedSource(m_clearSource)
                               ? m_clearSource
                               : m_sqlSource->text();
    return DatabaseSettings{kind, source, m_database->text().trimmed(), m_table->text().trimmed()};
}

QString SetupDialog::checkChosen() const {
    const DatabaseSettings d = chosenSettings();
    if (d.kind == DatabaseKind::File) {
        if (d.database.isEmpty()) {
            return QStringLiteral("Name the database file.");
        }
        if (QFileInfo(m_logger.folders().resolve(d.database)).isDir()) {
            return QStringLiteral("%1 is a folder, not a database file.").arg(d.database);
        }
    } else {
        if (d.sqlSource.trimmed().isEmpty()) {
            return QStringLiteral("Name the server under SQL Source (host,port).");
        }
    }
    if (const Status checked = SettingRules::checkDatabase(d); !checked) {
        return checked.problem().description + u'.';
    }
    return {};
}

void SetupDialog::say(const QString& text, bool bad) {
    m_message->setStyleSheet(bad ? QStringLiteral("color: #b00020;") : QString());
    m_message->setText(text);
}

void SetupDialog::testConnection() {
    if (const QString wrong = checkChosen(); !wrong.isEmpty()) {
        say(wrong, true);
        return;
    }
    DatabaseSettings d = chosenSettings();
    if (d.kind == DatabaseKind::File) {
        d.database = m_logger.folders().resolve(d.database);
        if (!QFileInfo::exists(d.database)) {
            say(QStringLiteral("There is no database file at %1 yet: saving makes a new, empty "
                               "one there.")
                    .arg(d.database),
                false);
            return;
        }
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Store store;
    Status opened = store.openForReading(d);
    Result<qint64> rows =
        opened ? store.countEvents(EventQuery{}) : Result<qint64>(opened.problem());
    QApplication::restoreOverrideCursor();
    if (!rows) {
        say(QStringLiteral("The database cannot be used: ") + rows.problem().description, true);
        return;
    }
    say(QStringLiteral("The database can be opened: %L1 rows in %2.")
            .arg(rows.value())
            .arg(d.table),
        false);
}

void SetupDialog::accept() {
    if (const QString wrong = checkChosen(); !wrong.isEmpty()) {
        say(wrong, true);
        return;
    }
    if (const Status saved = m_logger.applyDatabaseSettings(chosenSettings()); !saved) {
        say(QStringLiteral("The settings could not be saved: ") + saved.problem().description,
            true);
        return;
    }
    QDialog::accept();
}
