#include "SoakContent.h"

namespace {
constexpr int kPacketSize = 188;
}

void soakContent(int stream, qint64 offset, qint64 length, char *out)
{
    const quint64 salt = quint64(stream + 1) << 48;
    for (qint64 i = 0; i < length; ++i) {
        const quint64 position = quint64(offset + i);
        if (position % kPacketSize == 0) {
            out[i] = char(0x47);
            continue;
        }
        quint64 mixed = (position ^ salt) * 0x9E3779B97F4A7C15ULL;
        mixed ^= mixed >> 29;
        out[i] = char(mixed >> 24);
    }
}

QByteArray soakContent(int stream, qint64 offset, qint64 length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    soakContent(stream, offset, length, bytes.data());
    return bytes;
}
