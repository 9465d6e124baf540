#pragma once

#include <QSqlQuery>
#include <QVariant>
#include <memory>

// The rows of one SELECT, read forward: EOF is true once past the last row.
class RecordSet {
public:
    RecordSet() = default;
    explicit RecordSet(std::shared_ptr<QSqlQuery> query);

    bool EOF_() const { return m_eof; }
    QVariant Fields(const QString& name) const;
    void movenext();

private:
    std::shared_ptr<QSqlQuery> m_query;
    bool m_eof = true;
};
