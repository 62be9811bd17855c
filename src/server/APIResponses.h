#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class HTTPResponder;

// The API's four kinds of answer. Each document is encoded here, on the
// caller's thread, before it is handed to the connection, so later changes
// of the model cannot reach an answer already built.
namespace APIResponses {

void sendJSON(const HTTPResponder &responder, const QJsonObject &document, const QByteArray &status);
// A document already encoded.
void sendJSONData(const HTTPResponder &responder, const QByteArray &document, const QByteArray &status);
// {"error": message}, written compactly; 400 unless another status is given.
void sendError(const HTTPResponder &responder, const QString &message,
               const QByteArray &status = "400 Bad Request");
void sendNotFound(const HTTPResponder &responder);
void sendNoContent(const HTTPResponder &responder);

} // namespace APIResponses
