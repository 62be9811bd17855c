#include "APIRouter.h"
#include "ExtendRequest.h"
#include "HTTPConnection.h"
#include "HTTPRequestParser.h"

#include <cstdint>

// A parsed request's path, split into segments and matched against the
// routes: segments are never empty and never hold a slash, a route acting on
// a recording names one segment, and a played file that passes the id check
// is exactly "<uuid>.ts", so nothing but a recording's own name reaches the
// file lookup.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto request = HTTPRequestParser::parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!request)
        return 0;
    const QStringList segments = HTTPConnection::segments(request->path);
    for (const QString &segment : segments) {
        if (segment.isEmpty() || segment.contains(QLatin1Char('/')))
            __builtin_trap();
    }
    const APIRoute route = APIRouter::match(request->method, segments);
    using Kind = APIRoute::Kind;
    switch (route.kind) {
    case Kind::Extend:
        ExtendRequest::decode(request->body);
        [[fallthrough]];
    case Kind::Stop:
    case Kind::Delete:
        if (route.target.isEmpty() || !segments.contains(route.target))
            __builtin_trap();
        break;
    case Kind::Play: {
        if (!route.target.endsWith(QLatin1String(".ts")) || segments.size() != 2)
            __builtin_trap();
        const auto id = APIRouter::parseID(route.target.chopped(3));
        if (id && route.target.compare(id->toString(QUuid::WithoutBraces) + QLatin1String(".ts"),
                                       Qt::CaseInsensitive) != 0)
            __builtin_trap();
        break;
    }
    default:
        if (!route.target.isEmpty())
            __builtin_trap();
    }
    return 0;
}
