#pragma once

#include <QDialog>

#include "settings/LoggerSettings.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QFormLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class LoggerControl;

// "Quilljot Setup": chooses the database the logger writes to and the MQTT broker it publishes
// to. It opens showing the settings in effect; Save stores what changed and has it take effect at
// once, Cancel or Escape leave everything as it was. The fields follow the kind of database, so
// that a file path is never saved as a server's database name, and "Test connection" opens the
// chosen database on a connection of its own without saving anything.
class SetupDialog : public QDialog {
    Q_OBJECT

public:
    explicit SetupDialog(LoggerControl& logger, QWidget* parent = nullptr);

    // Fills the fields from the settings the logger uses now.
    void showSettingsInEffect();
    // The settings as the fields stand, with the password the source field masks.
    DatabaseSettings chosenSettings() const;
    // The MQTT settings as the fields stand, each checked by its key's rule.
    Result<MqttSettings> chosenMqtt() const;
    // Opens the chosen database to read it and says in the dialog how that went.
    void testConnection();
    void accept() override;

private:
    // The parts the dialog is built of, top to bottom.
    QGroupBox* makeEngineChoice();
    QFormLayout* makeFields();
    QWidget* makeMqttPart();
    QHBoxLayout* makeSettingsFileRow();
    QDialogButtonBox* makeButtons();

    DatabaseKind chosenKind() const;
    void followKind();
    void browse();
    // What is wrong with the chosen settings, or an empty text.
    QString checkChosen() const;
    void say(const QString& text, bool bad);

    LoggerControl& m_logger;
    QRadioButton* m_fileDatabase;
    QRadioButton* m_sqlServer;
    QRadioButton* m_postgreSql;
    QLabel* m_sourceLabel;
    QLineEdit* m_sqlSource;
    QLabel* m_databaseLabel;
    QLineEdit* m_database;
    QPushButton* m_browse;
    QLineEdit* m_table;
    QCheckBox* m_searchIndex;
    QLabel* m_message;
    QTabWidget* m_tabs;
    QLineEdit* m_mqttHost;
    QLineEdit* m_mqttPort;
    QLineEdit* m_mqttClientId;
    QLineEdit* m_mqttUsername;
    QLineEdit* m_mqttPassword;  // shows a mask for a saved password, never the password
    QLineEdit* m_mqttCaFile;
    QLineEdit* m_mqttCertFile;
    QLineEdit* m_mqttKeyFile;
    QLineEdit* m_mqttTopicPrefix;
    QComboBox* m_mqttQos;
    QCheckBox* m_mqttDiscovery;
    QCheckBox* m_mqttCommands;
    QLineEdit* m_mqttCommandClasses;
    MqttSettings m_shownMqtt;
    // The source as the settings hold it; the field shows it with the password masked, and an
    // unchanged field saves this text.
    QString m_clearSource;
    // The database field means a file path for one kind and a name on a server for the others;
    // each keeps its own text while the user switches between kinds.
    QString m_filePath;
    QString m_serverDatabase;
    DatabaseKind m_shownKind = DatabaseKind::File;
};
