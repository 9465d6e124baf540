#include "ui/DesktopFrontend.h"

#include <QCursor>
#include <QMenu>

#include "logger/xapQuilljot.h"
#include "ui/EchoWindow.h"
#include "ui/SetupDialog.h"
#include "ui/TrayIcon.h"

namespace {
constexpr int kLeftButtonUp = 514;
constexpr int kRightButtonUp = 517;
}  // namespace

DesktopFrontend::DesktopFrontend(QObject* parent)
    : QObject(parent), m_tray(new TrayIcon(QStringLiteral("Quilljot"), this)) {
    connect(m_tray, &TrayIcon::leftButtonReleased, this,
            [this] { TrayIconCallback(kLeftButtonUp); });
    connect(m_tray, &TrayIcon::menuChosen, this, &DesktopFrontend::MenuArray_Click);
}

DesktopFrontend::~DesktopFrontend() {
    delete m_setup;
    delete m_echo;
}

void DesktopFrontend::attach(xapQuilljot& controller) {
    m_controller = &controller;
}

void DesktopFrontend::loadEchoWindow() {
    if (m_controller == nullptr || m_echo) {
        return;
    }
    m_echo = new EchoWindow(m_controller->global(), m_controller->logger());
    connect(&m_controller->logger(), &LoggerCore::echo, m_echo.data(), &EchoWindow::Echo);
    m_echo->Form_Load();
    m_echo->hide();
}

void DesktopFrontend::unloadEchoWindow() {
    if (m_setup) {
        m_setup->hide();
    }
    if (m_echo) {
        m_echo->close();
        delete m_echo;
    }
}

void DesktopFrontend::trayUpdate(bool on, bool alternate) {
    m_tray->Update(on, alternate ? TrayIcon::alternatePicture() : TrayIcon::normalPicture());
}

void DesktopFrontend::TrayIconCallback(int msg) {
    if (msg == kLeftButtonUp && m_echo) {
        m_echo->show();
        m_echo->raise();
    } else if (msg == kRightButtonUp) {
        m_tray->menu()->popup(QCursor::pos());
    }
}

void DesktopFrontend::MenuArray_Click(int index) {
    switch (index) {
        case TrayIcon::Setup:
            if (!m_setup && m_controller != nullptr) {
                xapQuilljot* c = m_controller;
                m_setup = new SetupDialog(c->global(), [c] { c->logger().InitXap(); });
            }
            if (m_setup) {
                m_setup->Form_Load();
                m_setup->show();
                m_setup->raise();
            }
            break;
        case TrayIcon::Window:
            TrayIconCallback(kLeftButtonUp);
            break;
        case TrayIcon::Exit:
            emit exitRequested();
            break;
        default:
            break;  // "System Config", "System Status" and "Help" do nothing
    }
}
