#include "SeenMessage.h"

#include "message/Heartbeat.h"
#include "message/TextCodec.h"
#include "message/XapMessage.h"

namespace {

// XapMessage reads a text whose first line is not the header as empty, without a fault; the
// snoop shows those apart, as not being xAP at all.
bool namesHeader(const QString& text) {
    const qsizetype end = text.indexOf(u'\n');
    return QStringView(text)
        .first(end < 0 ? text.size() : end)
        .contains(u"xap-header", Qt::CaseInsensitive);
}

}  // namespace

SeenMessage SeenMessage::read(qint64 microseconds, const QByteArray& bytes) {
    SeenMessage seen;
    seen.microseconds = microseconds;
    seen.size = bytes.size();
    seen.text = textFromBytes(bytes);
    if (const auto hb = Heartbeat::read(seen.text)) {
        seen.kind = Kind::Heartbeat;
        seen.className = hb->className;
        seen.source = hb->source;
        seen.uid = hb->uid;
        seen.interval = hb->intervalSeconds;
        seen.port = hb->port;
        return seen;
    }
    if (!namesHeader(seen.text)) {
        return seen;
    }
    const XapMessage m = XapMessage::read(seen.text);
    seen.kind = Kind::Message;
    seen.className = m.className().toString();
    seen.source = m.source().toString();
    if (m.target() != u"Unknown") {
        seen.target = m.target().toString();
    }
    seen.uid = m.uid().toString();
    if (m.fault()) {
        seen.fault = m.fault()->description;
    }
    if (m.isClass(u"Homeseer.Event") && m.blockNames().contains(QStringLiteral("event.log"))) {
        seen.isEvent = true;
        seen.type = m.item(u"Event.Log", u"Type").toString();
        seen.data = m.item(u"Event.Log", u"Data").toString();
    }
    return seen;
}
