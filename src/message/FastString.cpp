#include "message/FastString.h"

FastString::FastString() {
    m_pieces.reserve(kInitialSlots - 1);
}

void FastString::Add(const QString& strValue) {
    if (m_pieces.size() + 1 >= m_slots) {
        m_slots += kGrowBy;
    }
    m_pieces.push_back(strValue);
}

void FastString::Add(qint64 number) {
    Add(QString::number(number));
}

QString FastString::Value() const {
    qsizetype total = 0;
    for (const QString& piece : m_pieces) {
        total += piece.size();
    }
    QString joined;
    joined.reserve(total);
    for (const QString& piece : m_pieces) {
        joined.append(piece);
    }
    return joined;
}

void FastString::Reset() {
    m_pieces.clear();
    m_slots = kInitialSlots;
}
