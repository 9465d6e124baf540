#include "ui/TrayIcon.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

namespace {

QIcon drawBadge(const QColor& badge, const QColor& ink) {
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(Qt::NoPen);
        p.setBrush(badge);
        p.drawEllipse(QRectF(2, 2, 60, 60));
        // A quill: a feather curving up to the right, with its nib at the lower left.
        QPainterPath feather;
        feather.moveTo(16, 50);
        feather.cubicTo(22, 30, 36, 16, 52, 10);
        feather.cubicTo(48, 26, 36, 40, 16, 50);
        p.setBrush(ink);
        p.drawPath(feather);
        p.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 50), QPointF(11, 55));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

}  // namespace

QIcon TrayIcon::normalPicture() {
    return drawBadge(QColor(0x2b, 0x5d, 0x8c), Qt::white);
}

QIcon TrayIcon::alternatePicture() {
    return drawBadge(Qt::white, QColor(0x2b, 0x5d, 0x8c));
}

TrayIcon::TrayIcon(const QString& tip, QObject* parent)
    : QObject(parent), m_tray(new QSystemTrayIcon(this)), m_menu(new QMenu()) {
    m_tray->setToolTip(tip);
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    m_menu->setTitle(QStringLiteral("Quilljot"));
    const std::pair<QString, QString> entries[] = {
        {QStringLiteral("Setup"), QStringLiteral("menuSetup")},
        {QStringLiteral("System Config"), QStringLiteral("menuSystemConfig")},
        {QStringLiteral("System Status"), QStringLiteral("menuSystemStatus")},
        {QStringLiteral("Window"), QStringLiteral("menuWindow")},
        {QStringLiteral("Help"), QStringLiteral("menuHelp")}};
    for (int i = 0; i < 5; ++i) {
        QAction* a = m_menu->addAction(entries[i].first);
        a->setObjectName(entries[i].second);
        connect(a, &QAction::triggered, this, [this, i] { emit menuChosen(i); });
    }
    m_menu->addSeparator();
    QAction* exit = m_menu->addAction(QStringLiteral("Exit"));
    exit->setObjectName(QStringLiteral("menuExit"));
    connect(exit, &QAction::triggered, this, [this] { emit menuChosen(Exit); });
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    emit leftButtonReleased();
                }
            });
}

TrayIcon::~TrayIcon() {
    update(false, QIcon());
    delete m_menu;
}

void TrayIcon::update(bool shown, const QIcon& picture) {
    if (shown) {
        m_tray->setIcon(picture);
        m_tray->show();
        m_shown = true;
    } else {
        if (m_shown) {
            m_tray->hide();
        }
        m_shown = false;
    }
}
