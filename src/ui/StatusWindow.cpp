#include "ui/StatusWindow.h"

#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "logger/LoggerControl.h"
#include "store/ServerSource.h"
#include "support/DateText.h"
#include "ui/ActivityChartView.h"

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

// "every 40 s", "every 5 min", "every 2 h": a source's usual spacing, roughly.
QString spacingText(qint64 seconds) {
    if (seconds < 120) {
        return QStringLiteral("every %1 s").arg(seconds);
    }
    if (seconds < 7200) {
        return QStringLiteral("every %1 min").arg((seconds + 30) / 60);
    }
    return QStringLiteral("every %1 h").arg((seconds + 1800) / 3600);
}

QString quietText(const QList<LoggerStatus::QuietSource>& quiet, int shown) {
    if (quiet.isEmpty()) {
        return QStringLiteral("none: every source of events was heard about as often as usual");
    }
    QStringList lines;
    for (const LoggerStatus::QuietSource& q : quiet.mid(0, shown)) {
        lines.append(
            QStringLiteral("%1: last heard %2 (usually %3)")
                .arg(q.source, DateText::isoText(q.lastHeard), spacingText(q.usualGapSeconds)));
    }
    if (quiet.size() > shown) {
        lines.append(QStringLiteral("and %L1 more").arg(quiet.size() - shown));
    }
    return lines.join(u'\n');
}

}  // namespace

StatusWindow::StatusWindow(LoggerControl& logger, QWidget* parent)
    : QWidget(parent, Qt::Window), m_logger(logger), m_chartTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("statusWindow"));
    setWindowTitle(QStringLiteral("Quilljot Status"));
    auto* form = new QFormLayout;
    m_node = addLine(form, QStringLiteral("xAP node"), QStringLiteral("node"));
    m_hub = addLine(form, QStringLiteral("Hub"), QStringLiteral("hub"));
    m_database = addLine(form, QStringLiteral("Database"), QStringLiteral("database"));
    m_events = addLine(form, QStringLiteral("Events"), QStringLiteral("events"));
    auto* lastDay = new QWidget(this);
    auto* lastDayColumn = new QVBoxLayout(lastDay);
    lastDayColumn->setContentsMargins(0, 0, 0, 0);
    m_chart = new ActivityChartView(lastDay);
    m_chart->setObjectName(QStringLiteral("statusChart"));
    m_chart->setFixedHeight(72);
    m_chartProblem = new QLabel(lastDay);
    m_chartProblem->setObjectName(QStringLiteral("chartStatus"));
    m_chartProblem->setTextFormat(Qt::PlainText);
    m_chartProblem->setWordWrap(true);
    m_chartProblem->hide();
    lastDayColumn->addWidget(m_chart);
    lastDayColumn->addWidget(m_chartProblem);
    form->addRow(QStringLiteral("Last 24 hours"), lastDay);
    connect(m_chart, &ActivityChartView::rangeChosen, this, &StatusWindow::historyAsked);
    connect(m_chartTimer, &QTimer::timeout, this, &StatusWindow::refreshChart);
    m_quiet = addLine(form, QStringLiteral("Quiet sources"), QStringLiteral("quiet"));
    m_reportCount = addLine(form, QStringLiteral("Reports"), QStringLiteral("reports"));
    m_reports = new QPlainTextEdit(this);
    m_reports->setObjectName(QStringLiteral("statusReports"));
    m_reports->setReadOnly(true);
    m_reports->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(new QLabel(QStringLiteral("Last reports, newest first"), this));
    column->addWidget(m_reports, 1);
    resize(640, 520);
}

StatusWindow::~StatusWindow() = default;

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
    const LoggerStatus s = m_logger.status();
    m_node->setText(
        QStringLiteral("%1 (Quilljot %2, started %3)\nlistening on 127.0.0.1:%4, sending from %5 "
                       "to %6:%7")
            .arg(s.xapSource, s.version, DateText::isoText(s.startedAt))
            .arg(s.listenPort)
            .arg(s.sendFrom, s.destination)
            .arg(s.destinationPort));
    // Our own heartbeats come back through the hub, so a working hub is heard within a minute.
    m_hub->setText(
        s.lastReceived.isNull()
            ? QStringLiteral("not heard yet: nothing has reached the logger's port (is "
                             "a hub running on this host?)")
            : QStringLiteral("heard: last message %1").arg(DateText::isoText(s.lastReceived)));
    const DatabaseSettings& d = s.database;
    QString where = engineText(d.kind) + QStringLiteral(": ") + d.database;
    if (d.kind != DatabaseKind::File) {
        where += QStringLiteral(" on ") + ServerSource::redactedSource(d.sqlSource);
    }
    where += QStringLiteral(", table ") + d.table +
             (s.databaseOpen ? QStringLiteral(" (open)") : QStringLiteral(" (NOT open)"));
    if (s.spoolWaiting > 0) {
        where += QStringLiteral("\n%L1 events wait in the spool").arg(s.spoolWaiting);
    }
    if (s.messagesWaiting > 0) {
        where += QStringLiteral("\n%L1 messages wait in the spool").arg(s.messagesWaiting);
    }
    m_database->setText(where);
    const LoggerStatus::Counts& c = s.counts;
    QString events = QStringLiteral(
                         "%L1 messages received, %L2 events written, %L3 refused, "
                         "%L4 spooled, %L5 dropped, %L6 other messages")
                         .arg(c.received)
                         .arg(c.written)
                         .arg(c.rejected)
                         .arg(c.spooled)
                         .arg(c.dropped)
                         .arg(c.other);
    if (c.messagesWritten + c.messagesSpooled > 0) {
        events += QStringLiteral("\n%L1 logged messages written, %L2 spooled")
                      .arg(c.messagesWritten)
                      .arg(c.messagesSpooled);
    }
    if (c.waiting > 0) {
        events += QStringLiteral("\n%L1 received and waiting to be written").arg(c.waiting);
    }
    if (!s.mqttBroker.isEmpty()) {
        events += QStringLiteral(
                      "\nMQTT broker %1 (%2): %L3 published, %L4 waiting, %L5 sent "
                      "again after a reconnect, %L6 dropped")
                      .arg(s.mqttBroker, s.mqttConnected ? QStringLiteral("connected")
                                                         : QStringLiteral("not connected"))
                      .arg(c.mqttPublished)
                      .arg(c.mqttWaiting)
                      .arg(c.mqttRepublished)
                      .arg(c.mqttDropped);
    }
    if (c.droppedBeforeReceive > 0) {
        events += QStringLiteral(
                      "\n%L1 dropped by the system before the logger could receive "
                      "them: raise net.core.rmem_max (see the README)")
                      .arg(c.droppedBeforeReceive);
    }
    m_events->setText(events);
    m_quiet->setText(quietText(s.quietSources, kShownQuietSources));
    m_reportCount->setText(s.reportsSent == 1 ? QStringLiteral("1 sent")
                                              : QStringLiteral("%L1 sent").arg(s.reportsSent));
    const QStringList reports = s.lastReports.mid(0, kShownReports);
    m_reports->setPlainText(reports.isEmpty() ? QStringLiteral("(none yet)") : reports.join(u'\n'));
}

void StatusWindow::refreshChart() {
    // Minutes by the logger's clock, the current one last.
    const QDateTime now = m_logger.now();
    const QDateTime end(now.date(), QTime(now.time().hour(), now.time().minute()));
    ActivityQuery q;
    q.bucket = ActivityQuery::Bucket::Minute;
    q.to = DateText::isoText(end.addSecs(60));
    q.from = DateText::isoText(end.addSecs(60 - qint64(kChartHours) * 3600));
    const Result<ActivityChart> chart = m_logger.recentActivity(q).value_or(Problem{
        ErrorKind::Generic, QStringLiteral("The logger keeps no counts of the last 24 hours.")});
    // Counted meanwhile, or the database is back: a chart that is missing need not wait a minute.
    const int next = chart ? kChartEveryMs : kChartAgainMs;
    if (m_chartTimer->isActive() && m_chartTimer->interval() != next) {
        m_chartTimer->start(next);
    }
    if (!chart) {
        m_chart->clear();
        m_chart->hide();
        m_chartProblem->setText(chart.problem().description);
        m_chartProblem->show();
        return;
    }
    m_chartProblem->hide();
    m_chart->show(chart.value(), q.bucket, q.to);
    m_chart->setVisible(true);
}

void StatusWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    m_chartTimer->start(kChartEveryMs);
    refreshChart();
    m_watch = connect(&m_logger, &LoggerControl::statusChanged, this, &StatusWindow::refresh);
}

void StatusWindow::hideEvent(QHideEvent* event) {
    m_chartTimer->stop();
    disconnect(m_watch);
    QWidget::hideEvent(event);
}
