#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// One record of a record log, as every version of the logger wrote it: magic, payload length,
// CRC-32 of the payload, payload. The payload holds the record's texts, each as its UTF-8 length
// and bytes. The magic lets a reader find the next record after a damaged one; the checksum tells
// a damaged or torn record from a whole one.
namespace RecordFormat {

inline constexpr char kMagic[4] = {'q', 'j', 's', '1'};
inline constexpr qint64 kHeaderSize = 12;
inline constexpr quint32 kMaxPayload = 4u * 1024 * 1024;
inline constexpr qint64 kLargestRecord = kHeaderSize + kMaxPayload;

// Bytes a process wrote itself, with no crash between, cannot be damaged: their checksum need not
// be computed again.
enum class Check { Sums, None };

// Appends the record of `texts` to `out`, written in place: a record costs no allocation of its
// own, which matters where the receiver writes a batch of them.
void append(QByteArray& out, const QStringList& texts);

struct Decoded {
    enum class Kind {
        Whole,    // `texts`, and `size` bytes long
        Short,    // the start of a record `size` bytes long (the header's size while unknown)
        Damaged,  // no record starts here
    };
    Kind kind = Kind::Damaged;
    QStringList texts;
    qint64 size = 0;
};
// The record `bytes` start with.
Decoded decode(QByteArrayView bytes, Check check);

}  // namespace RecordFormat
