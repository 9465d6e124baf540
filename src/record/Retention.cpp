#include "record/Retention.h"

#include "report/Reporter.h"
#include "store/Store.h"
#include "support/DateText.h"
#include "support/ProgramNames.h"

using Table = StoreProvider::Table;

Retention::Retention(Store& store, Reporter& reporter, std::function<QDateTime()> clock,
                     QObject* parent)
    : QObject(parent), m_store(store), m_reporter(reporter), m_clock(std::move(clock)) {
    m_hourly.setInterval(kEveryMs);
    connect(&m_hourly, &QTimer::timeout, this, &Retention::beginPurge);
    m_step.setInterval(kPauseMs);
    connect(&m_step, &QTimer::timeout, this, &Retention::step);
}

void Retention::start(const Limits& limits) {
    stop();
    m_limits = limits;
    if (limits.eventDays > 0 || limits.messageDays > 0) {
        m_hourly.start();
        beginPurge();
    }
}

void Retention::stop() {
    m_hourly.stop();
    m_step.stop();
}

void Retention::beginPurge() {
    if (m_step.isActive()) {
        return;
    }
    m_table = m_limits.eventDays > 0 ? Table::Events : Table::Messages;
    m_before.clear();
    m_releasing = false;
    m_purgeRows = 0;
    m_step.start();
}

void Retention::step() {
    if (m_releasing) {
        const Result<bool> more = m_store.releaseSpace(kBytesPerStep);
        if (!more || !more.value()) {
            finish();
        }
        return;
    }
    const int days = m_table == Table::Events ? m_limits.eventDays : m_limits.messageDays;
    if (m_before.isEmpty()) {
        m_before = DateText::isoText(m_clock().addDays(-days));
    }
    const Result<int> gone = m_store.deleteRowsBefore(m_table, m_before, kBatchRows);
    if (!gone) {
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("KeepDays "), gone.problem());
        finish();
        return;
    }
    m_purgeRows += gone.value();
    m_deleted += gone.value();
    if (gone.value() < kBatchRows) {
        if (m_table == Table::Events && m_limits.messageDays > 0) {
            m_table = Table::Messages;
            m_before.clear();
        } else {
            m_releasing = m_purgeRows > 0;
            if (!m_releasing) {
                finish();
            }
        }
    }
}

void Retention::finish() {
    m_step.stop();
    emit purged(m_purgeRows);
}
