#pragma once

#include <QString>
#include <vector>

// Append-only text builder: keeps the pieces and joins them once when the whole text is asked
// for, so a message or statement of many short pieces is not copied at every append. Slot 0 is
// never used; the slot array starts with 101 slots and grows by 100 when the next slot is needed.
class FastString {
public:
    FastString();

    void Add(const QString& strValue);
    void Add(qint64 number);
    QString Value() const;
    void Reset();

    // Number of slots the builder holds room for (slot 0 included).
    std::size_t slotCount() const { return m_slots; }

private:
    static constexpr std::size_t kInitialSlots = 101;
    static constexpr std::size_t kGrowBy = 100;

    // Pieces in slots 1 and up; slot 0 is never written, so it is not stored.
    std::vector<QString> m_pieces;
    std::size_t m_slots = kInitialSlots;
};
