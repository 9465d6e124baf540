#pragma once

#include <QIcon>
#include <QObject>

class QMenu;
class QSystemTrayIcon;

// The notification-area icon with its tip and pop-up menu. Reports a left-button release and
// the chosen menu entry (by index) to whoever listens; shows, changes or removes the icon.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    // Menu entries by index, as the menu lists them; 5 is the separator.
    enum Entry { Setup = 0, SystemConfig = 1, SystemStatus = 2, Window = 3, Help = 4, Exit = 6 };

    explicit TrayIcon(const QString& tip, QObject* parent = nullptr);
    ~TrayIcon() override;

    void update(bool shown, const QIcon& picture);
    bool iconShown() const { return m_shown; }
    QMenu* menu() const { return m_menu; }

    // The two pictures, drawn here: a quill on a round badge, and the same badge inverted.
    static QIcon normalPicture();
    static QIcon alternatePicture();

signals:
    void leftButtonReleased();
    void menuChosen(int index);

private:
    QSystemTrayIcon* m_tray;
    QMenu* m_menu;
    bool m_shown = false;
};
