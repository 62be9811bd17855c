#include "APIResponses.h"

#include "HTTPResponder.h"
#include "JSONCoding.h"

#include <QJsonDocument>

namespace {

const QByteArray kJSON = QByteArrayLiteral("application/json; charset=utf-8");
const QByteArray kPlainText = QByteArrayLiteral("text/plain; charset=utf-8");

} // namespace

namespace APIResponses {

void sendJSON(const HTTPResponder &responder, const QJsonObject &document, const QByteArray &status)
{
    responder.send(status, kJSON, sharedJSONEncoder().data(document));
}

void sendJSONData(const HTTPResponder &responder, const QByteArray &document, const QByteArray &status)
{
    responder.send(status, kJSON, document);
}

void sendError(const HTTPResponder &responder, const QString &message, const QByteArray &status)
{
    const QJsonObject document{{QStringLiteral("error"), message}};
    responder.send(status, kJSON, QJsonDocument(document).toJson(QJsonDocument::Compact));
}

void sendNotFound(const HTTPResponder &responder)
{
    // Without a body the status text is sent as the body.
    responder.send("404 Not Found", kPlainText);
}

void sendNoContent(const HTTPResponder &responder)
{
    responder.send("204 No Content", kPlainText, QByteArray());
}

} // namespace APIResponses
