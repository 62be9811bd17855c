#include "JSONCoding.h"

#include <cstdint>

// Request bodies and index files: whatever decodes must encode and decode
// again to the same value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto request = sharedJSONDecoder().decodeRequest(bytes)) {
        const auto again = sharedJSONDecoder().decodeRequest(sharedJSONEncoder().encode(*request));
        if (!again || !(*again == *request))
            __builtin_trap();
    }
    if (const auto recordings = sharedJSONDecoder().decodeRecordings(bytes)) {
        const QByteArray written = sharedJSONEncoder().data(sharedJSONEncoder().encode(*recordings));
        const auto again = sharedJSONDecoder().decodeRecordings(written);
        if (!again || !(*again == *recordings))
            __builtin_trap();
    }
    return 0;
}
