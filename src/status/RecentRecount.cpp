#include "status/RecentRecount.h"

#include "store/Store.h"

RecentRecount::RecentRecount(RecentActivity& recent, Failed failed)
    : m_recent(recent), m_failed(std::move(failed)) {
    m_thread.setObjectName(QStringLiteral("recount"));
    m_onThread.moveToThread(&m_thread);
    m_thread.start();
}

RecentRecount::~RecentRecount() {
    stop();
}

void RecentRecount::start(quint64 recount, const DatabaseSettings& database, qint64 newestKey) {
    QMetaObject::invokeMethod(
        &m_onThread, [this, recount, database, newestKey] { count(recount, database, newestKey); });
}

void RecentRecount::stop() {
    m_stopping = true;
    m_thread.quit();
    m_thread.wait();
}

void RecentRecount::count(quint64 recount, const DatabaseSettings& database, qint64 newestKey) {
    const auto wanted = [this, recount] { return !m_stopping && m_recent.recountCurrent(recount); };
    if (!wanted()) {
        return;
    }
    const auto [from, to] = m_recent.recountRange();
    ActivityQuery q;
    q.bucket = ActivityQuery::Bucket::Minute;
    q.from = from;
    q.to = to;
    q.upToKey = newestKey;
    Store reader;
    const Status opened = reader.openForReading(database);
    const Result<ActivityChart> counted =
        opened ? reader.activity(q, [&](int, int) { return wanted(); })
               : Result<ActivityChart>(opened.problem());
    if (!wanted()) {
        return;
    }
    if (counted) {
        m_recent.finishRecount(recount, counted.value());
        return;
    }
    m_recent.recountFailed(recount, counted.problem().description);
    m_failed(recount, database);
}
