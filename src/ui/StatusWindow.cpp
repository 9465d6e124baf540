#include "ui/StatusWindow.h"

#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "logger/Logger.h"
#include "store/ServerSource.h"

namespace {

QString engineText(DatabaseKind kind) {
    switch (kind) {
        case DatabaseKind::File:
            return QStringLiteral("file");
        case DatabaseKind::SqlServer:
            return QStringLiteral("SQL Server");
        case DatabaseKind::PostgreSql:
            return QStringLiteral("PostgreSQL");
    }
    return {};
}

}  // namespace

StatusWindow::StatusWindow(Logger& logger, QWidget* parent)
    : QWidget(parent, Qt::Window), m_logger(logger) {
    setObjectName(QStringLiteral("statusWindow"));
    setWindowTitle(QStringLiteral("Quilljot Status"));
    auto* form = new QFormLayout;
    m_node = addLine(form, QStringLiteral("xAP node"), QStringLiteral("node"));
    m_hub = addLine(form, QStringLiteral("Hub"), QStringLiteral("hub"));
    m_database = addLine(form, QStringLiteral("Database"), QStringLiteral("database"));
    m_events = addLine(form, QStringLiteral("Events"), QStringLiteral("events"));
    m_reports = new QPlainTextEdit(this);
    m_reports->setObjectName(QStringLiteral("statusReports"));
    m_reports->setReadOnly(true);
    m_reports->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(new QLabel(QStringLiteral("Last reports, newest first"), this));
    column->addWidget(m_reports, 1);
    resize(640, 420);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &StatusWindow::refresh);
}

QLabel* StatusWindow::addLine(QFormLayout* form, const QString& caption, const QString& name) {
    auto* value = new QLabel(this);
    value->setObjectName(name + QStringLiteral("Status"));
    value->setTextFormat(Qt::PlainText);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setWordWrap(true);
    form->addRow(caption, value);
    return value;
}

QString StatusWindow::lineText(const QString& name) const {
    const QLabel* value = findChild<QLabel*>(name + QStringLiteral("Status"));
    return value != nullptr ? value->text() : QString();
}

void StatusWindow::refresh() {
    const XapNode* node = m_logger.node();
    if (node != nullptr) {
        m_node->setText(QStringLiteral("%1, listening on 127.0.0.1:%2, sending from %3 to %4:%5")
                            .arg(node->source())
                            .arg(node->port())
                            .arg(node->localIp(), node->destination())
                            .arg(node->remotePort()));
        m_hub->setText(
            node->datagramsReceived() > 0
                ? QStringLiteral("seen: %L1 messages received").arg(node->datagramsReceived())
                : QStringLiteral("not seen yet: nothing has reached the logger's "
                                 "port (is a hub running on this host?)"));
    }
    const DatabaseSettings& d = m_logger.settings().database;
    QString where = engineText(d.kind) + QStringLiteral(": ") + d.database;
    if (d.kind != DatabaseKind::File) {
        where += QStringLiteral(" on ") + ServerSource::redactedSource(d.sqlSource);
    }
    where += QStringLiteral(", table ") + d.table +
             (m_logger.databaseOpen() ? QStringLiteral(" (open)") : QStringLiteral(" (NOT open)"));
    m_database->setText(where);
    m_events->setText(QStringLiteral("%L1 waiting in the spool").arg(m_logger.spoolWaiting()));
}

void StatusWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    m_tick.start();
}

void StatusWindow::hideEvent(QHideEvent* event) {
    m_tick.stop();
    QWidget::hideEvent(event);
}
