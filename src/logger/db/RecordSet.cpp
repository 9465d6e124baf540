#include "logger/db/RecordSet.h"

#include <QSqlRecord>
#include <QStringList>

#include "support/Failure.h"

RecordSet::RecordSet(std::shared_ptr<QSqlQuery> query) : m_query(std::move(query)) {
    m_eof = !(m_query && m_query->isSelect() && m_query->next());
}

QVariant RecordSet::Fields(const QString& name) const {
    if (m_eof) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Either BOF or EOF is True, or the current record has been "
                                     "deleted"));
    }
    const QSqlRecord record = m_query->record();
    int index = record.indexOf(name);
    if (index < 0 && record.isEmpty()) {
        // Debian's Qt 6.4 ODBC driver describes no columns; a "SELECT *" of the log table
        // still returns them in the table's order.
        static const QStringList kLogColumns = {QStringLiteral("ID"), QStringLiteral("SampleDate"),
                                                QStringLiteral("Source"),
                                                QStringLiteral("Category"), QStringLiteral("Data")};
        for (int i = 0; i < kLogColumns.size(); ++i) {
            if (kLogColumns[i].compare(name, Qt::CaseInsensitive) == 0) {
                index = i;
            }
        }
    }
    if (index < 0) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Item cannot be found in the collection: ") + name);
    }
    return m_query->value(index);
}

void RecordSet::movenext() {
    if (!m_eof) {
        m_eof = !m_query->next();
    }
}
