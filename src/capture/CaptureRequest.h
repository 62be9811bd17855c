#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <chrono>

class QNetworkReply;

// What both capture paths do the same way when they talk to the provider.

// Whether the address may be requested at all: http and https only, so that
// neither a stream address nor a playlist line can make the recorder read
// local files or other schemes the client happens to support.
bool isFetchableAddress(const QUrl &url);

// A GET request for the address carrying the user agent and the idle timeout.
QNetworkRequest captureRequest(const QUrl &url, const QString &userAgent, std::chrono::milliseconds timeout);

// The user agent as a header value. It comes from the client that scheduled
// the recording, and the HTTP client sends control characters unchanged, so a
// line break could add header lines of its own; each becomes a blank.
QByteArray headerSafeUserAgent(const QString &userAgent);

// Whether the client goes on to another address after this status: the
// redirect statuses it follows, when a Location is given.
bool isFollowedRedirect(int status, const QNetworkReply &reply);

// The description of the error a request ended with, or nothing. The recorder
// cuts loose every request it cancels itself, so a cancelled request seen
// here was cancelled by the client's idle timeout, which the client describes
// only as "Operation canceled".
QString requestErrorDescription(const QNetworkReply &reply);
