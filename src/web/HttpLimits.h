#pragma once

#include <QtGlobal>

// What one client may cost the web server. Every number a client could otherwise push up is
// bounded here; the README's security section lists them.
namespace HttpLimits {

// The request line and headers together fit in a connection's memory, which libmicrohttpd
// takes once per connection and never grows: a request with more is answered 431, and the next
// request is read only once the answer to the last one is out, so that a client that does not
// read its answers holds no more than this.
constexpr qsizetype kMaxHeaderBytes = 16 * 1024;
constexpr size_t kConnectionMemory = 16 * 1024;
// A request body, counted as it arrives (declared or chunked); a larger one is answered 413 and
// the connection closed before any of it is taken.
constexpr qsizetype kMaxBody = 64 * 1024;
// A connection on which nothing moves is closed after this long.
constexpr int kIdleMillis = 30'000;
// Open connections in all and from one address. At the limit the connection that has waited
// longest without a request under way makes room; streams are never pushed out.
constexpr int kMaxConnections = 256;
constexpr int kMaxPerAddress = 64;
// Descriptors the logger keeps for its database, spool, settings and text log: the connection
// limit shrinks when the process may open fewer than kMaxConnections plus these.
constexpr int kReservedDescriptors = 128;
// Unsent stream bytes a connection may hold; streams produce more only below it.
constexpr qint64 kMaxUnsent = 1 << 20;
// Streams open at once.
constexpr int kMaxExports = 4;
constexpr int kMaxLiveStreams = 32;

}  // namespace HttpLimits
