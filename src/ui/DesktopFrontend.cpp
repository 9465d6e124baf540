#include "ui/DesktopFrontend.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "logger/LoggerControl.h"
#include "support/ProgramNames.h"
#include "ui/HistoryView.h"
#include "ui/TrayIcon.h"

DesktopFrontend::DesktopFrontend(QObject* parent)
    : QObject(parent), m_tray(new TrayIcon(QStringLiteral("Quilljot"), this)) {
    connect(m_tray, &TrayIcon::leftButtonReleased, this, &DesktopFrontend::showEchoWindow);
    connect(m_tray, &TrayIcon::menuChosen, this, &DesktopFrontend::onMenuChosen);
}

DesktopFrontend::~DesktopFrontend() {
    delete m_help;
    delete m_status;
    delete m_setup;
    delete m_echo;
}

void DesktopFrontend::attach(LoggerControl& logger) {
    m_logger = &logger;
}

void DesktopFrontend::loadEchoWindow() {
    if (m_logger == nullptr || m_echo) {
        return;
    }
    m_echo = new EchoWindow(*m_logger);
    connect(m_logger, &LoggerControl::eventsLogged, m_echo.data(), &EchoWindow::addEvents);
    m_echo->restore();
    m_echo->hide();
}

void DesktopFrontend::unloadEchoWindow() {
    for (QWidget* w : std::initializer_list<QWidget*>{m_setup, m_status, m_help}) {
        if (w != nullptr) {
            w->hide();
        }
    }
    if (m_echo) {
        m_echo->closeForGood();
        delete m_echo;
    }
}

void DesktopFrontend::trayUpdate(bool on, bool alternate) {
    m_tray->update(on, alternate ? TrayIcon::alternatePicture() : TrayIcon::normalPicture());
}

void DesktopFrontend::showEchoWindow() {
    if (m_echo) {
        m_echo->show();
        m_echo->raise();
    }
}

void DesktopFrontend::showSetupDialog() {
    if (!m_setup && m_logger != nullptr) {
        m_setup = new SetupDialog(*m_logger);
    }
    if (m_setup) {
        m_setup->showSettingsInEffect();
        m_setup->show();
        m_setup->raise();
    }
}

void DesktopFrontend::openSettingsFolder() {
    if (m_logger == nullptr) {
        return;
    }
    const QString folder =
        QFileInfo(m_logger->folders().configFile(ProgramNames::kLoggerSettingsFile)).absolutePath();
    // Without a file manager to open it, the setup dialog names the settings file instead.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
        showSetupDialog();
    }
}

void DesktopFrontend::showStatusWindow() {
    if (!m_status && m_logger != nullptr) {
        m_status = new StatusWindow(*m_logger);
        connect(m_status.data(), &StatusWindow::historyAsked, this,
                [this](const QString& from, const QString& to) {
                    if (m_echo) {
                        m_echo->showHistory();
                        m_echo->history()->narrowTo(from, to);
                        showEchoWindow();
                    }
                });
    }
    if (m_status) {
        m_status->refresh();
        m_status->show();
        m_status->raise();
    }
}

void DesktopFrontend::showHelp() {
    if (!m_help && m_logger != nullptr) {
        m_help = new HelpBox(*m_logger);
    }
    if (m_help) {
        m_help->refresh();
        m_help->show();
        m_help->raise();
    }
}

void DesktopFrontend::onMenuChosen(int entry) {
    switch (entry) {
        case TrayIcon::Setup:
            showSetupDialog();
            break;
        case TrayIcon::SystemConfig:
            openSettingsFolder();
            break;
        case TrayIcon::SystemStatus:
            showStatusWindow();
            break;
        case TrayIcon::Help:
            showHelp();
            break;
        case TrayIcon::Window:
            showEchoWindow();
            break;
        case TrayIcon::Exit:
            emit exitRequested();
            break;
        default:
            break;
    }
}
