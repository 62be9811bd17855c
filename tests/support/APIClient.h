#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <optional>

// One request to a recorder's API on 127.0.0.1, one connection per request.
// Waits by running the event loop, so that a server or a fake provider on the
// calling thread keeps working meanwhile.
struct APIResponse
{
    int status = 0;
    QByteArray body;

    QJsonArray array() const { return QJsonDocument::fromJson(body).array(); }
    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
};

// Answers the response once the server closed the connection, or nothing when
// it could not connect or did not answer in time.
std::optional<APIResponse> apiRequest(quint16 port, const QByteArray &method, const QByteArray &path,
                                      const QByteArray &body = {},
                                      std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The entry of GET /api/recordings with the given id (upper-case text), if
// the API answered and lists it.
std::optional<QJsonObject> listedRecording(quint16 port, const QString &id);
