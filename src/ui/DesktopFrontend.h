#pragma once

#include <QObject>
#include <QPointer>

#include "logger/Frontend.h"
#include "ui/EchoWindow.h"
#include "ui/HelpBox.h"
#include "ui/SetupDialog.h"
#include "ui/StatusWindow.h"

class LoggerControl;
class TrayIcon;

// The desktop face of the program: the tray icon with its menu, the echo window, the setup
// dialog, the status window and the help box, wired to the running logger.
class DesktopFrontend : public QObject, public Frontend {
    Q_OBJECT

public:
    explicit DesktopFrontend(QObject* parent = nullptr);
    ~DesktopFrontend() override;

    void attach(LoggerControl& logger);

    void loadEchoWindow() override;
    void unloadEchoWindow() override;
    void trayUpdate(bool on, bool alternate) override;

    void showEchoWindow();
    void showSetupDialog();
    // Opens the folder of the settings files in the desktop's file manager.
    void openSettingsFolder();
    void showStatusWindow();
    void showHelp();
    void onMenuChosen(int entry);

    EchoWindow* echoWindow() const { return m_echo; }
    SetupDialog* setupDialog() const { return m_setup; }
    StatusWindow* statusWindow() const { return m_status; }
    HelpBox* helpBox() const { return m_help; }
    TrayIcon* tray() const { return m_tray; }

signals:
    // "Exit" was chosen: the program's shutdown should run.
    void exitRequested();

private:
    LoggerControl* m_logger = nullptr;
    TrayIcon* m_tray;
    QPointer<EchoWindow> m_echo;
    QPointer<SetupDialog> m_setup;
    QPointer<StatusWindow> m_status;
    QPointer<HelpBox> m_help;
};
