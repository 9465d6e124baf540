#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "message/TextCodec.h"

// The fuzzers' view of one input: the bytes as the program would read them from a datagram or a
// file, and a way to stop with a message when a property that must hold does not.
namespace FuzzInput {

inline QString text(const uint8_t* data, size_t size) {
    return textFromBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
}

// Two texts from one input, split at its first newline (the second is empty without one).
inline std::pair<QString, QString> split(const QString& whole) {
    const qsizetype nl = whole.indexOf(u'\n');
    if (nl < 0) {
        return {whole, QString()};
    }
    return {whole.left(nl), whole.mid(nl + 1)};
}

[[noreturn]] inline void fail(const char* property, const QString& detail) {
    std::fprintf(stderr, "property broken: %s\n%s\n", property, detail.toUtf8().constData());
    std::abort();
}

}  // namespace FuzzInput
