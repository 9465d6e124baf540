#include "status/StatusTracker.h"

StatusTracker::StatusTracker(std::function<QDateTime()> clock, Gather gather, QObject* parent)
    : QObject(parent), m_clock(std::move(clock)), m_gather(std::move(gather)) {
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &StatusTracker::check);
}

void StatusTracker::setFixed(const LoggerStatus& fixed) {
    const std::lock_guard hold(m_lock);
    const QStringList reports = m_fixed.lastReports;
    const quint64 sent = m_fixed.reportsSent;
    m_fixed = fixed;
    m_fixed.lastReports = reports;
    m_fixed.reportsSent = sent;
}

void StatusTracker::setDatabase(const DatabaseSettings& database) {
    const std::lock_guard hold(m_lock);
    m_fixed.database = database;
}

void StatusTracker::noteReport(const QString& line) {
    const QString stamped = m_clock().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + line;
    const std::lock_guard hold(m_lock);
    ++m_fixed.reportsSent;
    m_fixed.lastReports.prepend(stamped);
    if (m_fixed.lastReports.size() > LoggerStatus::kRecentReports) {
        m_fixed.lastReports.removeLast();
    }
}

LoggerStatus StatusTracker::status() const {
    LoggerStatus s;
    {
        const std::lock_guard hold(m_lock);
        s = m_fixed;
    }
    if (m_gather) {
        m_gather(s);
    }
    // Noted once a second (the clock costs more than taking a datagram): what came since is now.
    if (s.counts.received != m_receivedSeen) {
        s.lastReceived = m_clock();
    }
    return s;
}

void StatusTracker::start() {
    m_timer.start();
}

void StatusTracker::stop() {
    m_timer.stop();
}

void StatusTracker::check() {
    const LoggerStatus now = status();
    if (now.counts.received != m_receivedSeen) {
        m_receivedSeen = now.counts.received;
        const std::lock_guard hold(m_lock);
        m_fixed.lastReceived = now.lastReceived;
    }
    const LoggerStatus::Counts& c = now.counts;
    const QList<quint64> seen = {c.received,
                                 c.written,
                                 c.spooled,
                                 c.rejected,
                                 c.other,
                                 c.dropped,
                                 c.waiting,
                                 c.droppedBeforeReceive,
                                 c.messagesWritten,
                                 quint64(now.spoolWaiting),
                                 quint64(now.messagesWaiting),
                                 quint64(now.databaseOpen),
                                 quint64(now.lastReceived.toMSecsSinceEpoch()),
                                 now.reportsSent,
                                 quint64(now.quietSources.size())};
    if (seen != m_seen) {
        m_seen = seen;
        emit changed();
    }
}
