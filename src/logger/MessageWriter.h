#pragma once

#include <QString>

#include "store/LoggedMessage.h"

class Reporter;
class Store;

// Writes the other messages that rules log into the messages table. They are written while the
// database takes them and not kept otherwise (the spool is the controller events'); a failure is
// reported once, and again only after a write got through.
class MessageWriter {
public:
    MessageWriter(Store& store, Reporter& reporter) : m_store(store), m_reporter(reporter) {}

    bool write(const LoggedMessage& message);

    quint64 written() const { return m_written; }
    quint64 lost() const { return m_lost; }

private:
    Store& m_store;
    Reporter& m_reporter;
    bool m_failing = false;
    quint64 m_written = 0;
    quint64 m_lost = 0;
};
