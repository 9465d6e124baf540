#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <memory>
#include <optional>
#include <string>

#include "store/SqliteCheckpointer.h"
#include "store/SqliteStatement.h"
#include "store/StoreProvider.h"

struct sqlite3;
struct sqlite3_stmt;

// The file database: a SQLite file, opened in WAL mode with synchronous=NORMAL. Its layout is
// recorded in the table tblQuilljotLayout, and as the file's user_version for earlier versions. A
// file that exists and is not a SQLite database is refused and never written to. Events are written
// by prepared inserts of one row and of 16 on the connection's own SQLite handle, bound as UTF-8;
// the log is copied into the file beside the writer (SqliteCheckpointer).
//
// Two faults are met without stalling or writing into the void: a database file that is removed
// or replaced while open (the connection would go on writing to the unlinked file) ends the
// connection with a failure at the first write of a batch, or within 100 ms, or at its end, and a
// database locked by another process fails each write at once after the first one waited its busy
// timeout in vain, until a write gets through again.
class SqliteProvider : public StoreProvider {
public:
    explicit SqliteProvider(DatabaseSettings settings) : StoreProvider(std::move(settings)) {}
    ~SqliteProvider() override;

    Status createDatabaseIfMissing() override;
    Status open() override;
    bool isOpen() const override { return m_handle != nullptr; }
    Status insert(const LogEvent& event) override;
    RunWritten insertRun(std::span<const LogEvent> events) override;
    Status beginBatch() override;
    Status endBatch() override;
    Result<bool> releaseSpace(qint64 bytes) override;
    QString where() const override;
    Result<QString> probe() override;

protected:
    EventSelectDialect selectDialect() const override;
    ActivityDialect activityDialect(int limit) const override;
    QString storedName(const QString& text) const override;
    QString tableName(Table table) const override;
    // The messages table and the reads go through Qt's connection on the same handle: they meet a
    // closed or replaced file, and a failure that passes, as event writes do.
    Status readyToRead() override;
    Problem failure(const QString& text) const override;
    Status beginLayoutChange() override;
    Status endLayoutChange(bool commit) override;
    QList<LayoutStep> layoutSteps() override;
    LayoutDialect layoutDialect() const override;
    Result<int> recordedLayout() override;
    Status recordLayout() override;
    Status forgetSearched(const QString& before, int limit) override;
    std::optional<SearchDialect> searchDialect() const override;
    Result<QStringList> keepSearchIndex() override;

private:
    // The text index of the data (see SqliteProviderSearch.cpp): an FTS5 table of trigrams that
    // reads its texts from the event table, and the key up to which it holds the rows.
    QString searchTable() const;
    QString searchKeyTable() const;
    Status makeSearchIndex();
    Status dropSearchIndex();
    // The index's part of the dialect, when the file holds it.
    void addSearchIndex(EventSelectDialect& dialect) const;
    // Whether the file holds the index, as last seen: readers find it made or dropped by the
    // logger.
    bool m_searchIndexed = false;
    Result<SqliteStatement> prepare(const QByteArray& sql, unsigned flags = 0) const;
    // The first column of the statement's first row; `fallback` when it has none.
    Result<int> number(const QByteArray& sql, int fallback = 0) const;
    // `fresh`: the file is being made.
    Status openFile(bool fresh = false);
    Status run(const char* sql);
    // A write's first checks: the connection is there and its path still names its file.
    Status readyToWrite();
    // The prepared insert of one row or of kRunRows rows, made at its first use.
    Result<sqlite3_stmt*> insertStatement(qsizetype rows);
    void bind(sqlite3_stmt* statement, std::span<const LogEvent> events);
    // Runs an insert of `rows` rows bound before.
    Status step(sqlite3_stmt* statement, qsizetype rows);
    // What SQLite says of the last call, after `what`.
    Problem engineFailure(const QString& what) const;
    // Fails, and closes the connection, when the path no longer names the file that was opened.
    Status checkSameFile();
    // The busy timeout: the full wait normally, none while another process holds the lock.
    void setContended(bool contended);
    void closeHandle();
    Problem whyClosed() const;
    // After each commit: the log's length in pages.
    static int onCommit(void* self, sqlite3* db, const char* name, int pages);
    void checkpointSoon();

    // A log this long is copied into the file by the checkpointer; one this long, with the
    // checkpointer behind, by the writer itself, so that it stays bounded.
    static constexpr qint64 kCheckpointBytes = 4 * 1024 * 1024;
    static constexpr qint64 kWriterCheckpointBytes = 64 * 1024 * 1024;
    // The pages of a file Quilljot makes: a commit writes the log a page at a time, two system
    // calls a page, and the calls cost more than the copy (SQLite's default is 4,096). Files made
    // elsewhere keep their own.
    static constexpr int kNewPageBytes = 16384;

    // Short: a write that finds the database locked goes to the spool rather than holding up the
    // receive path.
    static constexpr int kBusyTimeoutMs = 250;
    static constexpr int kCheckEveryMs = 100;

    const QString& path() const { return m_settings.database; }

    sqlite3* m_handle = nullptr;
    // Rows per statement of a run: one statement of many rows costs SQLite about half as much a
    // row as as many statements of one.
    static constexpr std::size_t kRunRows = 16;

    SqliteStatement m_insert;
    SqliteStatement m_insertRun;
    // The UTF-8 of the values the insert is bound to; kept, with its room, from one to the next.
    std::string m_values;
    bool m_batch = false;
    // Why SQLite abandoned the batch's transaction, until its end says so.
    std::optional<Problem> m_batchLost;
    bool m_contended = false;
    int m_batchRows = 0;
    QByteArray m_nativePath;
    unsigned long long m_device = 0;
    unsigned long long m_inode = 0;
    QElapsedTimer m_lastCheck;
    // Why the connection closed itself, said by the next write.
    std::optional<Problem> m_closedBecause;
    // Made at the first long log: connections that only read never need it.
    std::unique_ptr<SqliteCheckpointer> m_checkpointer;
    int m_pageBytes = 4096;
};
