#pragma once

#include <QByteArray>

// What the Content-Type of an answer to a stream address says the body is.
enum class StreamContent {
    // A media stream, or nothing said about it: written as it arrives.
    Stream,
    // A web page or a message (HTML, plain text, JSON), as providers send
    // for an expired account or a blocked address with a success status.
    Page,
    // An HLS playlist: the address has to be captured as HLS.
    Playlist,
};

// Classifies a Content-Type header value; parameters, case and blanks around
// the type do not matter.
StreamContent streamContentOf(const QByteArray &contentType);
