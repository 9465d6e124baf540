#pragma once

#include "record/Drainer.h"
#include "record/SpoolRecords.h"
#include "record/StoreCodec.h"

class Reporter;

// How the drainer handles the other messages rules log: written to the messages table, kept in
// the spool "messages" as their six texts; one the database refuses is left out, and said once
// until a message is written again.
class MessageCodec : public StoreCodec {
public:
    using Record = LoggedMessage;

    MessageCodec(Store& store, Reporter& reporter) : StoreCodec(store), m_reporter(&reporter) {}

    static const DrainTexts& texts();
    static QStringList toSpool(const LoggedMessage& message) {
        return SpoolRecords::texts(message);
    }
    static LoggedMessage fromSpool(const QStringList& texts) {
        return SpoolRecords::message(texts);
    }

    Status insert(const LoggedMessage& message) { return m_store->insertMessage(message); }
    void refuse(const LoggedMessage& message, const Refusal& refusal);

private:
    Reporter* m_reporter;
};
