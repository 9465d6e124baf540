#include "store/Store.h"

#include <algorithm>

#include "store/StoreEngines.h"

namespace {

Problem closed() {
    return Problem{ErrorKind::DatabaseUnavailable,
                   QStringLiteral("Operation is not allowed when the object is closed")};
}

// A layout newer than this version knows: the only failure of ensureLayout without a step.
bool refusedLayout(const Problem& p) {
    return p.step == 0;
}

}  // namespace

Store::Store() = default;
Store::~Store() = default;

Store::OpenProblems Store::open(const DatabaseSettings& settings) {
    close();
    m_settings = settings;
    OpenProblems problems;
    auto provider = StoreEngines::forSettings(settings);
    if (!settings.database.isEmpty() && !settings.table.isEmpty()) {
        if (const Status made = provider->createDatabaseIfMissing(); !made) {
            problems.create = made.problem();
        }
    }
    if (const Status opened = provider->open(); !opened) {
        problems.open = opened.problem();
        // A server that may come back is kept: its provider connects again by itself.
        if (opened.problem().passes()) {
            m_provider = std::move(provider);
        }
        return problems;
    }
    const Result<QString> layout = provider->ensureLayout();
    if (layout) {
        problems.upgraded = layout.value();
    } else if (refusedLayout(layout.problem())) {
        problems.open = layout.problem();
        return problems;
    } else if (!problems.create) {
        problems.create = layout.problem();
    }
    m_provider = std::move(provider);
    return problems;
}

Status Store::reopen() {
    if (!m_settings) {
        return closed();
    }
    // Kept rather than made anew: it knows whether a write whose answer was lost was done.
    if (m_provider && m_provider->connectsAgain()) {
        return m_provider->connectAgainNow();
    }
    auto provider = StoreEngines::forSettings(*m_settings);
    if (const Status opened = provider->open(); !opened) {
        return opened;
    }
    if (const Result<QString> layout = provider->ensureLayout();
        !layout && refusedLayout(layout.problem())) {
        return layout.problem();
    }
    m_provider = std::move(provider);
    return {};
}

Status Store::openForReading(const DatabaseSettings& settings) {
    close();
    m_settings = settings;
    auto provider = StoreEngines::forSettings(settings);
    if (const Status opened = provider->open(); !opened) {
        return opened;
    }
    m_provider = std::move(provider);
    return {};
}

Status Store::readFrom(const DatabaseSettings& settings) {
    if (isOpen() && m_settings == settings) {
        return {};
    }
    return openForReading(settings);
}

QString Store::describe(const DatabaseSettings& settings) {
    return StoreEngines::forSettings(settings)->where();
}

Result<QString> Store::probe(const DatabaseSettings& settings) {
    return StoreEngines::forSettings(settings)->probe();
}

void Store::close() {
    m_provider.reset();
    m_rollUpBehind = true;
}

bool Store::isOpen() const {
    return m_provider && m_provider->isOpen();
}

bool Store::usable() const {
    return m_provider && (m_provider->isOpen() || m_provider->connectsAgain());
}

Status Store::insert(const LogEvent& event) {
    // A provider that closed itself says why.
    if (!m_provider) {
        return closed();
    }
    const Status written = m_provider->insert(event);
    if (written) {
        m_provider->countWritten(event);
    }
    return written;
}

StoreProvider::RunWritten Store::insertRun(std::span<const LogEvent> events) {
    if (!m_provider) {
        return {0, closed()};
    }
    const StoreProvider::RunWritten run = m_provider->insertRun(events);
    for (const LogEvent& event : events.first(std::size_t(run.written))) {
        m_provider->countWritten(event);
    }
    return run;
}

Status Store::beginBatch() {
    // Also while a provider connects again: the pass's first write may be the one that does.
    return usable() ? m_provider->beginBatch() : Status();
}

Status Store::endBatch() {
    if (!usable()) {
        return {};
    }
    const Status ended = m_provider->endBatch();
    if (!ended) {
        m_provider->forgetWritten();
    }
    if (ended) {
        rollUpWhenDue();
    }
    return ended;
}

void Store::catchUpActivity() {
    if (m_rollUpBehind) {
        rollUpWhenDue();
    }
}

void Store::rollUpWhenDue() {
    // Adding a pass's rows costs a few statements whatever their number: passes are gathered
    // for a while. A summary that could not take them now takes them later.
    // Catching up, the writer spends at most a third of its time on the summary.
    const qint64 every =
        m_rollUpBehind ? std::max<qint64>(kCatchUpEveryMs, 2 * m_lastRollUpMs) : kRollUpEveryMs;
    if (!isOpen() || (m_sinceRollUp.isValid() && m_sinceRollUp.elapsed() < every)) {
        return;
    }
    QElapsedTimer spent;
    spent.start();
    bool behind = false;
    if (const Result<bool> rolled = m_provider->rollUpActivity(); rolled) {
        behind = rolled.value();
    }
    // The text index follows on the same cadence, in a transaction of its own.
    if (const Result<bool> indexed = m_provider->rollUpSearch(); indexed) {
        behind = behind || indexed.value();
    }
    m_rollUpBehind = behind;
    m_lastRollUpMs = spent.elapsed();
    m_sinceRollUp.start();
}

namespace {

Problem notOpen() {
    return Problem{ErrorKind::Database, QStringLiteral("The database is not open")};
}

}  // namespace

Result<bool> Store::rollUpActivity() {
    if (!isOpen()) {
        return notOpen();
    }
    const Result<bool> rolled = m_provider->rollUpActivity();
    if (rolled) {
        m_rollUpBehind = rolled.value();
    }
    return rolled;
}

Result<bool> Store::rollUpSearch() {
    if (!isOpen()) {
        return notOpen();
    }
    return m_provider->rollUpSearch();
}

Result<qint64> Store::newestKey() {
    if (!isOpen()) {
        return notOpen();
    }
    return m_provider->newestKey();
}

Status Store::readEvents(const EventQuery& query, const StoreProvider::RowVisitor& visit) {
    if (!usable()) {
        return notOpen();
    }
    return m_provider->readEvents(query, visit);
}

Result<qint64> Store::countEvents(const EventQuery& query) {
    if (!usable()) {
        return notOpen();
    }
    return m_provider->countEvents(query);
}

Result<ActivityChart> Store::activity(const ActivityQuery& query,
                                      const ActivityProgress& progress) {
    if (!usable()) {
        return notOpen();
    }
    return m_provider->activity(query, progress);
}

Result<int> Store::deleteRowsBefore(StoreProvider::Table table, const QString& before, int limit) {
    if (!usable()) {
        return notOpen();
    }
    return m_provider->deleteRowsBefore(table, before, limit);
}

Result<bool> Store::releaseSpace(qint64 bytes) {
    if (!isOpen()) {
        return notOpen();
    }
    return m_provider->releaseSpace(bytes);
}

Status Store::insertMessage(const LoggedMessage& message) {
    if (!m_provider) {
        return closed();
    }
    return m_provider->insertMessage(message);
}

Status Store::readMessages(const MessageQuery& query, const StoreProvider::MessageVisitor& visit) {
    if (!usable()) {
        return notOpen();
    }
    return m_provider->readMessages(query, visit);
}
