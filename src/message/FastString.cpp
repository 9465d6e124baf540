#include "message/FastString.h"

FastString::FastString() : m_pieces(kInitialSlots) {}

void FastString::Add(const QString& strValue) {
    if (m_nextSlot >= m_pieces.size()) {
        m_pieces.resize(m_pieces.size() + kGrowBy);
    }
    m_pieces[m_nextSlot++] = strValue;
}

void FastString::Add(qint64 number) {
    Add(QString::number(number));
}

QString FastString::Value() const {
    qsizetype total = 0;
    for (std::size_t i = 1; i < m_nextSlot; ++i) {
        total += m_pieces[i].size();
    }
    QString joined;
    joined.reserve(total);
    for (std::size_t i = 1; i < m_nextSlot; ++i) {
        joined.append(m_pieces[i]);
    }
    return joined;
}

void FastString::Reset() {
    m_pieces.assign(kInitialSlots, QString());
    m_nextSlot = 1;
}
