#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// A map from text to values that remembers insertion order and refuses to add a key it already
// holds. With CaseRule::Insensitive, keys are compared without regard to letter case (and
// reported as first added).
enum class CaseRule { Sensitive, Insensitive };

template <typename V>
class OrderedMap {
public:
    explicit OrderedMap(CaseRule rule = CaseRule::Sensitive) : m_rule(rule) {}

    // Adds key -> value; false (and no change) when the key is already present.
    bool add(const QString& key, V value) {
        const QString k = fold(key);
        if (m_index.contains(k)) {
            return false;
        }
        m_index.insert(k, m_entries.size());
        m_entries.append(Entry{key, std::move(value), true});
        ++m_count;
        return true;
    }

    bool contains(const QString& key) const { return m_index.contains(fold(key)); }

    const V* find(const QString& key) const {
        auto it = m_index.constFind(fold(key));
        return it == m_index.constEnd() ? nullptr : &m_entries[*it].value;
    }
    V* find(const QString& key) {
        auto it = m_index.constFind(fold(key));
        return it == m_index.constEnd() ? nullptr : &m_entries[*it].value;
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
        auto it = m_index.find(fold(key));
        if (it == m_index.end()) {
            return false;
        }
        m_entries[*it].live = false;
        m_index.erase(it);
        --m_count;
        if (m_entries.size() > 32 && m_count * 2 < m_entries.size()) {
            compact();
        }
        return true;
    }

    void clear() {
        m_entries.clear();
        m_index.clear();
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
    struct Entry {
        QString key;
        V value;
        bool live;
    };

    QString fold(const QString& key) const {
        return m_rule == CaseRule::Insensitive ? key.toLower() : key;
    }

    void compact() {
        QList<Entry> kept;
        kept.reserve(m_count);
        m_index.clear();
        for (Entry& e : m_entries) {
            if (e.live) {
                m_index.insert(fold(e.key), kept.size());
                kept.append(std::move(e));
            }
        }
        m_entries = std::move(kept);
    }

    CaseRule m_rule;
    QList<Entry> m_entries;
    QHash<QString, qsizetype> m_index;
    qsizetype m_count = 0;
};
