#pragma once

#include <QByteArray>
#include <QtGlobal>

// The bytes of soak stream number `stream`: transport-stream sized packets
// (a 0x47 sync byte every 188 bytes) whose other bytes depend on the stream
// and the position, so a byte out of place, repeated or from another stream
// never matches. Writes `length` bytes from `offset` into `out`.
void soakContent(int stream, qint64 offset, qint64 length, char *out);
QByteArray soakContent(int stream, qint64 offset, qint64 length);
