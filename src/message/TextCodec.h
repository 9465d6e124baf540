#pragma once

#include <QByteArray>
#include <QString>

// The one conversion between datagram or file bytes and text. Bytes that form valid UTF-8 are
// read as UTF-8; anything else is read as Latin-1, which maps every byte to one character, so no
// byte is lost or turned into a replacement character; only a leading UTF-8 byte order mark (as
// editors on Windows write at the start of a settings file) is dropped. Text always goes out as
// UTF-8.
QString textFromBytes(const QByteArray& bytes);
QByteArray bytesFromText(const QString& text);
// The same bytes as bytesFromText(), written at `out`, which has room for three bytes per UTF-16
// unit of `text`; returns their end. For writers that keep one buffer from one text to the next.
char* writeTextBytes(char* out, const QString& text);
