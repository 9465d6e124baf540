#include "ui/SetupDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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
#include <QTabWidget>
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

    auto* databasePart = new QWidget(this);
    auto* databaseColumn = new QVBoxLayout(databasePart);
    databaseColumn->addWidget(makeEngineChoice());
    databaseColumn->addLayout(makeFields());
    databaseColumn->addStretch();
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("setupTabs"));
    m_tabs->addTab(databasePart, QStringLiteral("Database"));
    m_tabs->addTab(makeMqttPart(), QStringLiteral("MQTT"));

    auto* column = new QVBoxLayout(this);
    column->addWidget(m_tabs);
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
    m_searchIndex = new QCheckBox(
        QStringLiteral("Keep a text index of the Data, so that a Data filter answers at once "
                       "(file and PostgreSQL; about 65 MB a million events in a file)"),
        this);
    m_searchIndex->setObjectName(QStringLiteral("searchIndexBox"));
    m_sourceLabel = new QLabel(QStringLiteral("SQL Source"), this);
    m_databaseLabel = new QLabel(QStringLiteral("Database"), this);
    m_databaseLabel->setObjectName(QStringLiteral("databaseLabel"));
    auto* fields = new QFormLayout;
    fields->addRow(m_sourceLabel, m_sqlSource);
    fields->addRow(m_databaseLabel, databaseRow);
    fields->addRow(QStringLiteral("Table"), m_table);
    fields->addRow(QString(), m_searchIndex);

    connect(m_browse, &QPushButton::clicked, this, &SetupDialog::browse);
    return fields;
}

// Each field's tooltip is its key's comment in the settings file.
QWidget* SetupDialog::makeMqttPart() {
    auto* part = new QWidget(this);
    part->setObjectName(QStringLiteral("mqttPart"));
    auto* fields = new QFormLayout(part);
    const auto field = [&](Setting key, const char* name, const QString& label,
                           const QString& placeholder = {}) {
        auto* edit = new QLineEdit(part);
        edit->setObjectName(QLatin1StringView(name));
        edit->setToolTip(SettingKeys::of(key).comment.toString());
        edit->setPlaceholderText(placeholder);
        fields->addRow(label, edit);
        return edit;
    };
    m_mqttHost = field(Setting::MqttHost, "mqttHostField", QStringLiteral("Broker"),
                       QStringLiteral("name or address; empty: no MQTT bridge"));
    m_mqttPort = field(Setting::MqttPort, "mqttPortField", QStringLiteral("Port"));
    m_mqttPort->setMaximumWidth(m_mqttPort->fontMetrics().horizontalAdvance(u'0') * 12);
    m_mqttClientId = field(Setting::MqttClientId, "mqttClientIdField", QStringLiteral("Client id"),
                           QStringLiteral("empty: quilljot- and the computer's name"));
    m_mqttUsername = field(Setting::MqttUsername, "mqttUsernameField", QStringLiteral("User name"),
                           QStringLiteral("empty: none"));
    m_mqttPassword = field(Setting::MqttPassword, "mqttPasswordField", QStringLiteral("Password"));
    m_mqttPassword->setEchoMode(QLineEdit::Password);
    m_mqttCaFile = field(Setting::MqttCaFile, "mqttCaFileField", QStringLiteral("CA file"),
                         QStringLiteral("PEM file; set: TLS"));
    m_mqttCertFile = field(Setting::MqttCertFile, "mqttCertFileField",
                           QStringLiteral("Client certificate"), QStringLiteral("PEM file"));
    m_mqttKeyFile = field(Setting::MqttKeyFile, "mqttKeyFileField", QStringLiteral("Client key"),
                          QStringLiteral("PEM file"));
    m_mqttTopicPrefix =
        field(Setting::MqttTopicPrefix, "mqttTopicPrefixField", QStringLiteral("Topic prefix"));
    m_mqttQos = new QComboBox(part);
    m_mqttQos->setObjectName(QStringLiteral("mqttQosChoice"));
    m_mqttQos->setToolTip(SettingKeys::of(Setting::MqttQos).comment.toString());
    m_mqttQos->addItems({QStringLiteral("0: at most once"), QStringLiteral("1: at least once")});
    fields->addRow(QStringLiteral("Quality of service"), m_mqttQos);
    m_mqttDiscovery =
        new QCheckBox(QStringLiteral("Announce each event source to Home Assistant"), part);
    m_mqttDiscovery->setObjectName(QStringLiteral("mqttDiscoveryOption"));
    m_mqttDiscovery->setToolTip(SettingKeys::of(Setting::MqttDiscovery).comment.toString());
    fields->addRow(QString(), m_mqttDiscovery);
    m_mqttCommands =
        new QCheckBox(QStringLiteral("Send commands published to <prefix>/send on xAP"), part);
    m_mqttCommands->setObjectName(QStringLiteral("mqttCommandsOption"));
    m_mqttCommands->setToolTip(SettingKeys::of(Setting::MqttCommands).comment.toString());
    fields->addRow(QString(), m_mqttCommands);
    m_mqttCommandClasses =
        field(Setting::MqttCommandClasses, "mqttCommandClassesField",
              QStringLiteral("Command classes"), QStringLiteral("separated by blanks or commas"));
    connect(m_mqttCommands, &QCheckBox::toggled, m_mqttCommandClasses, &QLineEdit::setEnabled);
    return part;
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
    // It opens the database, which the MQTT part does not choose.
    connect(m_tabs, &QTabWidget::currentChanged, test,
            [test](int tab) { test->setVisible(tab == 0); });

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
    m_searchIndex->setChecked(d.searchIndex);

    m_shownMqtt = m_logger.settings().mqtt;
    const MqttSettings& m = m_shownMqtt;
    m_mqttHost->setText(m.host);
    m_mqttPort->setText(QString::number(m.port));
    m_mqttClientId->setText(m.clientId);
    m_mqttUsername->setText(m.username);
    m_mqttPassword->setText(MqttSettingsFile::shownPassword(m));
    m_mqttCaFile->setText(m.caFile);
    m_mqttCertFile->setText(m.certFile);
    m_mqttKeyFile->setText(m.keyFile);
    m_mqttTopicPrefix->setText(m.topicPrefix);
    m_mqttQos->setCurrentIndex(m.qos);
    m_mqttDiscovery->setChecked(m.discovery);
    m_mqttCommands->setChecked(m.commands);
    m_mqttCommandClasses->setText(m.commandClasses.join(u' '));
    m_mqttCommandClasses->setEnabled(m.commands);
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
    const QString source = ServerSource::chosenSource(m_sqlSource->text(), m_clearSource);
    DatabaseSettings chosen{kind, source, m_database->text().trimmed(), m_table->text().trimmed()};
    chosen.searchIndex = m_searchIndex->isChecked();
    return chosen;
}

Result<MqttSettings> SetupDialog::chosenMqtt() const {
    const auto on = [](const QCheckBox* box) {
        return box->isChecked() ? QStringLiteral("True") : QStringLiteral("False");
    };
    return MqttSettingsFile::withValues(
        m_shownMqtt,
        {
            {Setting::MqttHost, m_mqttHost->text()},
            {Setting::MqttPort, m_mqttPort->text()},
            {Setting::MqttClientId, m_mqttClientId->text()},
            {Setting::MqttUsername, m_mqttUsername->text()},
            {Setting::MqttPassword, MqttSettingsFile::chosenPassword(
                                        m_mqttPassword->text(), m_shownMqtt, m_mqttHost->text())},
            {Setting::MqttCaFile, m_mqttCaFile->text()},
            {Setting::MqttCertFile, m_mqttCertFile->text()},
            {Setting::MqttKeyFile, m_mqttKeyFile->text()},
            {Setting::MqttTopicPrefix, m_mqttTopicPrefix->text()},
            {Setting::MqttQos, QString::number(m_mqttQos->currentIndex())},
            {Setting::MqttDiscovery, on(m_mqttDiscovery)},
            {Setting::MqttCommands, on(m_mqttCommands)},
            {Setting::MqttCommandClasses, m_mqttCommandClasses->text()},
        });
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
        m_tabs->setCurrentIndex(0);
        say(wrong, true);
        return;
    }
    const Result<MqttSettings> mqtt = chosenMqtt();
    if (!mqtt) {
        m_tabs->setCurrentIndex(1);
        say(mqtt.problem().description + u'.', true);
        return;
    }
    Status saved = m_logger.applyDatabaseSettings(chosenSettings());
    if (saved && mqtt.value() != m_shownMqtt) {
        saved = m_logger.applyMqttSettings(mqtt.value());
    }
    if (!saved) {
        say(QStringLiteral("The settings could not be saved: ") + saved.problem().description,
            true);
        return;
    }
    QDialog::accept();
}
