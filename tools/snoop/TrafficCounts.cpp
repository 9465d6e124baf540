#include "TrafficCounts.h"

#include <QList>
#include <algorithm>

#include "TrafficFormat.h"

namespace {

// Names are counted as written, so that a class written in two spellings shows as two lines.
void table(QByteArray& out, const char* title, const QMap<QString, qint64>& counts) {
    if (counts.isEmpty()) {
        return;
    }
    QList<std::pair<QString, qint64>> rows;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        rows.append({it.key(), it.value()});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    out += title;
    out += ":\n";
    for (const auto& [name, n] : rows) {
        out += QByteArray::number(n).rightJustified(8) + "  " +
               TrafficFormat::printable(name, false).toUtf8() + '\n';
    }
}

}  // namespace

void TrafficCounts::shown(const SeenMessage& seen) {
    ++m_shown;
    const bool other = seen.kind == SeenMessage::Kind::Other;
    ++m_byClass[other ? QStringLiteral("(not xAP)") : seen.className];
    ++m_bySource[other ? QStringLiteral("(not xAP)") : seen.source];
}

QByteArray TrafficCounts::report() const {
    QByteArray out =
        QByteArray::number(m_received) + " received, " + QByteArray::number(m_shown) + " shown\n";
    table(out, "by class", m_byClass);
    table(out, "by source", m_bySource);
    return out;
}
