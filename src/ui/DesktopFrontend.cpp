#include "ui/DesktopFrontend.h"

#include "logger/Logger.h"
#include "ui/TrayIcon.h"

DesktopFrontend::DesktopFrontend(QObject* parent)
    : QObject(parent), m_tray(new TrayIcon(QStringLiteral("Quilljot"), this)) {
    connect(m_tray, &TrayIcon::leftButtonReleased, this, &DesktopFrontend::showEchoWindow);
    connect(m_tray, &TrayIcon::menuChosen, this, &DesktopFrontend::onMenuChosen);
}

DesktopFrontend::~DesktopFrontend() {
    delete m_setup;
    delete m_echo;
}

void DesktopFrontend::attach(Logger& logger) {
    m_logger = &logger;
}

void DesktopFrontend::loadEchoWindow() {
    if (m_logger == nullptr || m_echo) {
        return;
    }
    m_echo = new EchoWindow(*m_logger);
    connect(m_logger, &Logger::eventLogged, m_echo.data(), &EchoWindow::addEvent);
    m_echo->restore();
    m_echo->hide();
}

void DesktopFrontend::unloadEchoWindow() {
    if (m_setup) {
        m_setup->hide();
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

void DesktopFrontend::onMenuChosen(int entry) {
    switch (entry) {
        case TrayIcon::Setup:
            showSetupDialog();
            break;
        case TrayIcon::Window:
            showEchoWindow();
            break;
        case TrayIcon::Exit:
            emit exitRequested();
            break;
        default:
            break;  // "System Config", "System Status" and "Help" do nothing
    }
}
