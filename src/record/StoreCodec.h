#pragma once

#include "store/Store.h"

// What the drainer's codecs share: the database they write to, in batches, opened again after
// an outage.
class StoreCodec {
public:
    explicit StoreCodec(Store& store) : m_store(&store) {}

    Status beginBatch() { return m_store->beginBatch(); }
    Status endBatch() { return m_store->endBatch(); }
    bool isOpen() const { return m_store->isOpen(); }
    Status reopen() { return m_store->reopen(); }

protected:
    Store* m_store;
};
