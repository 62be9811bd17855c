#include "StreamContentType.h"

StreamContent streamContentOf(const QByteArray &contentType)
{
    const qsizetype semicolon = contentType.indexOf(';');
    const QByteArray type = (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
    if (type == "application/vnd.apple.mpegurl" || type == "application/x-mpegurl" || type == "audio/mpegurl")
        return StreamContent::Playlist;
    if (type == "text/html" || type == "text/plain" || type == "application/json" || type == "text/json"
        || (type.startsWith("application/") && type.endsWith("+json")))
        return StreamContent::Page;
    return StreamContent::Stream;
}
