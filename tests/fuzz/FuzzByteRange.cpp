#include "ByteRange.h"

#include <cstdint>
#include <cstring>

// A Range header and a file size: a partial answer must lie inside the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < sizeof(qint64))
        return 0;
    qint64 total = 0;
    std::memcpy(&total, data, sizeof total);
    total = total < 0 ? -(total + 1) : total;
    const QString header = QString::fromUtf8(reinterpret_cast<const char *>(data + sizeof total),
                                             qsizetype(size - sizeof total));
    const ByteRange range = ByteRange::resolve(header, total);
    if (range.kind == ByteRange::Kind::Partial
        && (range.start < 0 || range.length() <= 0 || range.end >= total))
        __builtin_trap();
    return 0;
}
