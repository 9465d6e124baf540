#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <vector>

#include "message/AsciiCase.h"

// A map from text to values that remembers insertion order and refuses to add a key it already
// holds. With CaseRule::Insensitive, keys are compared without regard to letter case (and
// reported as first added). Small maps (the sections and items of one xAP message) are searched
// in place; a hash index is built only once a map grows past a handful of entries.
enum class CaseRule { Sensitive, Insensitive };

template <typename V>
class OrderedMap {
public:
    explicit OrderedMap(CaseRule rule = CaseRule::Sensitive) : m_rule(rule) {}

    // Adds key -> value; false (and no change) when the key is already present.
    bool add(const QString& key, V value) {
        QString folded = fold(key);
        if (position(folded) >= 0) {
            return false;
        }
        if (m_indexed) {
            m_index.insert(folded, qsizetype(m_entries.size()));
        }
        if (m_entries.empty()) {
            m_entries.reserve(8);
        }
        m_entries.push_back(Entry{key, std::move(folded), std::move(value), true});
        ++m_count;
        if (!m_indexed && m_count > kLinearLimit) {
            rebuildIndex();
        }
        return true;
    }

    bool contains(const QString& key) const { return lookup(key) >= 0; }

    const V* find(const QString& key) const {
        const qsizetype at = lookup(key);
        return at < 0 ? nullptr : &m_entries[std::size_t(at)].value;
    }
    V* find(const QString& key) {
        const qsizetype at = lookup(key);
        return at < 0 ? nullptr : &m_entries[std::size_t(at)].value;
    }

    // Sets the value of an existing key or adds it at the end.
    void set(const QString& key, V value) {
        if (V* v = find(key)) {
            *v = std::move(value);
        } else {
            add(key, std::move(value));
        }
    }

    bool remove(const QString& key) {
        const qsizetype at = lookup(key);
        if (at < 0) {
            return false;
        }
        Entry& e = m_entries[std::size_t(at)];
        e.live = false;
        if (m_indexed) {
            m_index.remove(e.folded);
        }
        --m_count;
        if (m_entries.size() > 32 && std::size_t(m_count) * 2 < m_entries.size()) {
            compact();
        }
        return true;
    }

    void clear() {
        m_entries.clear();
        m_index.clear();
        m_indexed = false;
        m_count = 0;
    }

    qsizetype size() const { return m_count; }
    bool isEmpty() const { return m_count == 0; }

    QList<QString> keys() const {
        QList<QString> out;
        out.reserve(m_count);
        for (const Entry& e : m_entries) {
            if (e.live) {
                out.append(e.key);
            }
        }
        return out;
    }

    // Calls f(key, value) for every entry in insertion order.
    template <typename F>
    void forEach(F f) const {
        for (const Entry& e : m_entries) {
            if (e.live) {
                f(e.key, e.value);
            }
        }
    }

private:
    static constexpr qsizetype kLinearLimit = 12;

    struct Entry {
        QString key;
        QString folded;
        V value;
        bool live;
    };

    QString fold(const QString& key) const {
        return m_rule == CaseRule::Insensitive ? lowered(key) : key;
    }

    qsizetype position(const QString& folded) const {
        if (m_indexed) {
            return m_index.value(folded, -1);
        }
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].live && m_entries[i].folded == folded) {
                return qsizetype(i);
            }
        }
        return -1;
    }

    // Finds a key as given, without folding it first (small maps compare without regard to case).
    qsizetype lookup(const QString& key) const {
        if (m_indexed || m_rule == CaseRule::Sensitive) {
            return position(fold(key));
        }
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].live && equalsIgnoringCase(m_entries[i].folded, key)) {
                return qsizetype(i);
            }
        }
        return -1;
    }

    void rebuildIndex() {
        m_index.clear();
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].live) {
                m_index.insert(m_entries[i].folded, qsizetype(i));
            }
        }
        m_indexed = true;
    }

    void compact() {
        std::vector<Entry> kept;
        kept.reserve(std::size_t(m_count));
        for (Entry& e : m_entries) {
            if (e.live) {
                kept.push_back(std::move(e));
            }
        }
        m_entries = std::move(kept);
        if (m_indexed) {
            rebuildIndex();
        }
    }

    CaseRule m_rule;
    std::vector<Entry> m_entries;
    QHash<QString, qsizetype> m_index;
    bool m_indexed = false;
    qsizetype m_count = 0;
};
