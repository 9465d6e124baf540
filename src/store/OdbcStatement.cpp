#include "store/OdbcStatement.h"

#include <sql.h>
#include <sqlext.h>
#include <QSqlDriver>
#include <QVariant>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");
static_assert(sizeof(SQLLEN) == sizeof(long));

namespace {

SQLWCHAR* wide(const QString& text) {
    return reinterpret_cast<SQLWCHAR*>(const_cast<QChar*>(text.constData()));
}

}  // namespace

OdbcStatement::OdbcStatement(const QSqlDatabase& db, int timeoutSeconds) {
    const QVariant connection = db.driver() ? db.driver()->handle() : QVariant();
    // QODBC hands out its SQLHDBC as a void*.
    if (connection.metaType() != QMetaType::fromType<void*>()) {
        m_message = QStringLiteral("No ODBC connection");
        return;
    }
    const SQLHANDLE dbc = connection.value<void*>();
    SQLHANDLE statement = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &statement))) {
        m_message = QStringLiteral("Cannot make an ODBC statement");
        return;
    }
    m_handle = statement;
    m_connection = dbc;
    SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)), 0);
}

OdbcStatement::~OdbcStatement() {
    if (m_handle) {
        SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
    }
}

bool OdbcStatement::check(short ret) {
    if (SQL_SUCCEEDED(ret) || ret == SQL_NO_DATA) {
        return true;
    }
    m_state.clear();
    m_message.clear();
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[1024];
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1; SQL_SUCCEEDED(
             SQLGetDiagRecW(SQL_HANDLE_STMT, m_handle, i, state, &native, text, 1024, &length));
         ++i) {
        if (m_state.isEmpty()) {
            m_state = QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5);
        }
        if (!m_message.isEmpty()) {
            m_message += u' ';
        }
        m_message += QString::fromUtf16(reinterpret_cast<const char16_t*>(text),
                                        std::min<qsizetype>(length, 1023));
    }
    if (m_message.isEmpty()) {
        m_message = QStringLiteral("The ODBC driver failed without a message");
    }
    return false;
}

bool OdbcStatement::prepare(const QString& sql) {
    if (!m_handle) {
        return false;
    }
    return check(SQLPrepareW(m_handle, wide(sql), SQLINTEGER(sql.size())));
}

bool OdbcStatement::exec(const QStringList& values) {
    if (!m_handle) {
        return false;
    }
    SQLFreeStmt(m_handle, SQL_CLOSE);
    SQLFreeStmt(m_handle, SQL_RESET_PARAMS);
    m_values = values;
    m_lengths.assign(size_t(values.size()), 0);
    for (qsizetype i = 0; i < m_values.size(); ++i) {
        QString& value = m_values[i];
        value.detach();
        const SQLULEN size = SQLULEN(std::max<qsizetype>(value.size(), 1));
        m_lengths[size_t(i)] = SQLLEN(value.size() * 2);
        // Past 4000 characters a parameter is an nvarchar(max).
        if (!check(SQLBindParameter(m_handle, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                                    size > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, size, 0,
                                    wide(value), m_lengths[size_t(i)], &m_lengths[size_t(i)]))) {
            return false;
        }
    }
    return check(SQLExecute(m_handle));
}

bool OdbcStatement::next() {
    const SQLRETURN ret = SQLFetch(m_handle);
    return SQL_SUCCEEDED(ret) || (check(ret) && false);
}

int OdbcStatement::columns() {
    SQLSMALLINT count = 0;
    return m_handle != nullptr && SQL_SUCCEEDED(SQLNumResultCols(m_handle, &count)) ? count : 0;
}

qint64 OdbcStatement::rowsAffected() {
    SQLLEN rows = 0;
    return m_handle != nullptr && SQL_SUCCEEDED(SQLRowCount(m_handle, &rows)) ? rows : 0;
}

QString OdbcStatement::text(int column) {
    QString out;
    char16_t buffer[4096];
    for (;;) {
        SQLLEN length = 0;
        const SQLRETURN ret = SQLGetData(m_handle, SQLUSMALLINT(column + 1), SQL_C_WCHAR, buffer,
                                         sizeof buffer, &length);
        if (!SQL_SUCCEEDED(ret) || length == SQL_NULL_DATA) {
            return out;
        }
        // Cut short (01004): the buffer is full but for its closing zero, and more follows.
        const qsizetype chars = (length == SQL_NO_TOTAL || length >= SQLLEN(sizeof buffer))
                                    ? qsizetype(std::size(buffer) - 1)
                                    : qsizetype(length / 2);
        out.append(QStringView(buffer, chars));
        if (ret == SQL_SUCCESS) {
            return out;
        }
    }
}

bool OdbcStatement::connectionDead() const {
    SQLUINTEGER dead = SQL_CD_FALSE;
    return m_connection != nullptr &&
           SQL_SUCCEEDED(
               SQLGetConnectAttr(m_connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
}
