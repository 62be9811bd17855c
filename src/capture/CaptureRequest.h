#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// What both capture paths do the same way when they talk to the provider.

// Whether the address may be requested at all: http and https only, so that
// neither a stream address nor a playlist line can make the recorder read
// local files or other schemes the client happens to support.
bool isFetchableAddress(const QUrl &url);

// The user agent as a header value. It comes from the client that scheduled
// the recording, and the HTTP client sends control characters unchanged, so a
// line break could add header lines of its own; each becomes a blank.
QByteArray headerSafeUserAgent(const QString &userAgent);
