#include "ProviderConnections.h"

#include <QJsonDocument>
#include <QUrl>
#include <cstdint>

// The first line is read as a stream address, the rest as an account
// query's answer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = bytes.indexOf('\n');
    const QByteArray address = newline < 0 ? bytes : bytes.left(newline);
    const QByteArray body = newline < 0 ? QByteArray() : bytes.mid(newline + 1);

    if (const auto account = ProviderConnections::account(QUrl(QString::fromUtf8(address)))) {
        ProviderConnections::accountKey(*account);
        const QUrl query = ProviderConnections::accountQueryURL(*account);
        // The user name and password must never add query items of their own.
        if (query.isValid() && query.query(QUrl::FullyEncoded).count('&') != 1)
            __builtin_trap();
    }
    const auto answer = ProviderConnections::limitAnswer(body, 3);
    if (answer.full && (answer.limit < 1 || answer.inUse < answer.limit))
        __builtin_trap();
    return 0;
}
