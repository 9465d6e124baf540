#include "SnoopFilter.h"

#include "message/XapAddress.h"

bool SnoopFilter::passes(const SeenMessage& seen) const {
    const bool anyPattern =
        !classPattern.isEmpty() || !sourcePattern.isEmpty() || !targetPattern.isEmpty();
    switch (seen.kind) {
        case SeenMessage::Kind::Other:
            return !anyPattern;
        case SeenMessage::Kind::Heartbeat:
            if (!heartbeats && classPattern.isEmpty()) {
                return false;
            }
            break;
        case SeenMessage::Kind::Message:
            break;
    }
    // A message without a target is for everyone, so a target pattern does not pick it.
    return (classPattern.isEmpty() || XapAddress::matches(classPattern, seen.className)) &&
           (sourcePattern.isEmpty() || XapAddress::matches(sourcePattern, seen.source)) &&
           (targetPattern.isEmpty() || XapAddress::matches(targetPattern, seen.target));
}
