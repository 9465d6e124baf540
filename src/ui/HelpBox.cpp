#include "ui/HelpBox.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "logger/LoggerControl.h"
#include "store/ServerSource.h"
#include "support/ProgramNames.h"

namespace {

QString databaseText(const DatabaseSettings& d) {
    switch (d.kind) {
        case DatabaseKind::File:
            return d.database + QStringLiteral(" (file), table ") + d.table;
        case DatabaseKind::SqlServer:
            return d.database + QStringLiteral(" on SQL Server ") +
                   ServerSource::redactedSource(d.sqlSource) + QStringLiteral(", table ") + d.table;
        case DatabaseKind::PostgreSql:
            return d.database + QStringLiteral(" on PostgreSQL ") +
                   ServerSource::redactedSource(d.sqlSource) + QStringLiteral(", table ") + d.table;
    }
    return {};
}

}  // namespace

HelpBox::HelpBox(LoggerControl& logger, QWidget* parent) : QDialog(parent), m_logger(logger) {
    setObjectName(QStringLiteral("helpBox"));
    setWindowTitle(QStringLiteral("About Quilljot"));
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("helpText"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_openReadme = buttons->addButton(QStringLiteral("Open README"), QDialogButtonBox::ActionRole);
    m_openReadme->setObjectName(QStringLiteral("openReadmeButton"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_openReadme, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(readmePath(m_logger.folders().programFile())));
    });
    auto* column = new QVBoxLayout(this);
    column->addWidget(m_text);
    column->addWidget(buttons);
}

QString HelpBox::readmePath(const QString& programFile) {
    const QString installed =
        QFileInfo(programFile).absolutePath() + QStringLiteral("/../share/doc/quilljot/README.md");
    for (const QString& candidate : {installed, QStringLiteral(QUILLJOT_SOURCE_DIR "/README.md")}) {
        if (QFileInfo(candidate).isFile()) {
            return QDir::cleanPath(candidate);
        }
    }
    return {};
}

void HelpBox::refresh() {
    const AppFolders& f = m_logger.folders();
    const QString readme = readmePath(f.programFile());
    QStringList lines{
        QStringLiteral("Quilljot %1: logs the events of an xAP home-automation network.")
            .arg(QStringLiteral(QUILLJOT_VERSION)),
        QString(),
        QStringLiteral("README: ") +
            (readme.isEmpty() ? QStringLiteral("not installed beside the program") : readme),
        QStringLiteral("Application folder: ") + f.appPath(),
        QStringLiteral("Settings: ") + f.configFile(ProgramNames::kLoggerSettingsFile),
        QStringLiteral("Network settings: ") + f.configFile(ProgramNames::kSharedSettingsFile),
        QStringLiteral("Database: ") + databaseText(m_logger.settings().database),
        QStringLiteral("Text log: ") + f.textLogPath(),
        QString(),
        QStringLiteral("Tray menu: Setup chooses the database; System Config opens the settings "
                       "folder; System Status shows what the logger does; Window shows the "
                       "events."),
    };
    m_text->setText(lines.join(u'\n'));
    m_openReadme->setEnabled(!readme.isEmpty());
}
