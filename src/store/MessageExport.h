#pragma once

#include <QByteArray>
#include <QIODevice>
#include <functional>

#include "report/Result.h"
#include "store/EventExport.h"
#include "store/LoggedMessage.h"

// The messages table written out as the event export writes events: CSV with the header
// "ID,Time,Source,Target,Class,UID,Message", or JSON lines with id, time, source, target, class,
// uid and message; oldest first, page by page, in constant memory.
namespace MessageExport {

QByteArray csvHeader();
QByteArray csvLine(const StoredMessage& row);
QByteArray jsonLine(const StoredMessage& row);

Result<qint64> write(Store& store, MessageQuery query, ExportFormat format, QIODevice& out,
                     const std::function<bool(qint64)>& progress = {});

}  // namespace MessageExport
