#include "HTTPRequestParser.h"
#include "TextReaders.h"

#include <cstdint>

// Any bytes a client sends, whole or cut anywhere, must parse or be refused
// without crashing, and a parsed request must respect the size limits.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (qsizetype cut : {bytes.size(), bytes.size() / 2}) {
        const auto request = HTTPRequestParser::parse(bytes.left(cut));
        if (request && request->body.size() > HTTPRequestParser::kMaximumBodyLength)
            __builtin_trap();
        if (request)
            percentDecoded(request->path);
    }
    return 0;
}
