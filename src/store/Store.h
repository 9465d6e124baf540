#pragma once

#include <QElapsedTimer>
#include <memory>
#include <optional>

#include "store/StoreProvider.h"

// The logger's database: owns the connection to the database the settings name, makes the
// database and the event table when they are missing, writes events and reads the history.
class Store {
public:
    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // What went wrong while opening: making the database or its tables (steps 2 to 7), or
    // opening it. A database that was unavailable is kept, and writes connect again by themselves;
    // one whose tables have a newer layout is refused (`open`) and nothing is written to it.
    // `upgraded` says what was done to tables of an older layout, when anything was.
    struct OpenProblems {
        std::optional<Problem> create;
        std::optional<Problem> open;
        QString upgraded;
    };
    // Closes the current database and opens the one `settings` name, making it and its tables
    // when missing and upgrading tables of an older layout.
    OpenProblems open(const DatabaseSettings& settings);
    // Opens the database the settings named last again, making no database: a database that went
    // away stays away until the settings are applied again.
    Status reopen();
    // Opens the database `settings` name to read it, making nothing: what windows, the web page
    // and the export read through, on a connection of their own beside the logger's.
    Status openForReading(const DatabaseSettings& settings);
    // Ready to read the database `settings` name: the open connection is kept while the settings
    // stay, and opened again when they changed or it was lost.
    Status readFrom(const DatabaseSettings& settings);
    void close();
    bool isOpen() const;
    const std::optional<DatabaseSettings>& settings() const { return m_settings; }

    // The database the settings name, as people name it (never with a password).
    static QString describe(const DatabaseSettings& settings);
    // Whether the database the settings name could be opened or made, changing nothing: what
    // was found, or what stands in the way (see StoreProvider::probe).
    static Result<QString> probe(const DatabaseSettings& settings);

    Status insert(const LogEvent& event);
    // Writes `events` in order until one is not taken (see StoreProvider::insertRun).
    StoreProvider::RunWritten insertRun(std::span<const LogEvent> events);
    Status beginBatch();
    // Ends the pass; its rows are added to the activity summary at most every kRollUpEveryMs
    // (charts count the rows not yet added from the event table).
    Status endBatch();
    // Adds the rows written since the last time to the activity summary now (one step); whether
    // rows remain for the next.
    Result<bool> rollUpActivity();
    // One step of the text index of the events' data (see StoreProvider::rollUpSearch).
    Result<bool> rollUpSearch();
    // Another step of a summary that is behind, when one is due: called between passes and
    // while no events come, so that a summary made beside millions of rows catches up.
    void catchUpActivity();
    // The key of the newest event row (0 for none): rows up to it are those written so far.
    Result<qint64> newestKey();
    static constexpr int kRollUpEveryMs = 2000;
    static constexpr int kCatchUpEveryMs = 250;
    // Reading: a page of rows, or how many rows a query takes (see EventQuery).
    Status readEvents(const EventQuery& query, const StoreProvider::RowVisitor& visit);
    Result<qint64> countEvents(const EventQuery& query);
    // Events per interval of a range (see ActivityQuery and StoreProvider::activity).
    Result<ActivityChart> activity(const ActivityQuery& query,
                                   const ActivityProgress& progress = {});
    // The table of other messages (see StoreProvider).
    Status insertMessage(const LoggedMessage& message);
    Status readMessages(const MessageQuery& query, const StoreProvider::MessageVisitor& visit);
    // Retention: one batch of old rows deleted, and one step of giving their space back (see
    // StoreProvider).
    Result<int> deleteRowsBefore(StoreProvider::Table table, const QString& before, int limit);
    Result<bool> releaseSpace(qint64 bytes);

private:
    // Open, or closed for now by a provider that connects again by itself.
    bool usable() const;

    std::unique_ptr<StoreProvider> m_provider;
    std::optional<DatabaseSettings> m_settings;
    // A roll-up now if one is due: every kRollUpEveryMs, or kCatchUpEveryMs while behind.
    void rollUpWhenDue();

    QElapsedTimer m_sinceRollUp;  // since the last roll-up ended
    qint64 m_lastRollUpMs = 0;
    bool m_rollUpBehind = true;  // until a roll-up found no rows past its step
};
