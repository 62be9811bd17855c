#pragma once

#include "HTTPRequest.h"

#include <QByteArray>
#include <optional>

// Collects the bytes of one request and recognises when it is complete: a
// header block ended by CR LF CR LF, then as many body bytes as the
// "content-length" header announces (at most kMaximumBodyLength). Bytes after
// the body are ignored. The header block is searched only in newly arrived
// bytes and parsed once, so a request trickling in byte by byte costs linear
// work.
class HTTPRequestParser
{
public:
    static constexpr qsizetype kMaximumBodyLength = 65536;

    // Adds received bytes; answers the request once it is complete.
    std::optional<HTTPRequest> append(const QByteArray &bytes);
    qsizetype bufferedSize() const { return m_buffer.size(); }

    // The request held by a whole buffer, or none while more bytes are needed.
    static std::optional<HTTPRequest> parse(const QByteArray &buffer);

    // The announced body length: a decimal number with an optional leading
    // plus sign, capped at kMaximumBodyLength; anything else counts as 0.
    static qsizetype bodyLength(const std::optional<QString> &contentLength);

private:
    QByteArray m_buffer;
    qsizetype m_searchFrom = 0;
    qsizetype m_bodyStart = -1;
    qsizetype m_bodyLength = 0;
    HTTPRequest m_head;
};
