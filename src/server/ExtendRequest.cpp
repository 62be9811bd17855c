#include "ExtendRequest.h"

#include <QJsonDocument>
#include <QJsonObject>

std::optional<ExtendRequest> ExtendRequest::decode(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue minutes = document.object().value(QStringLiteral("minutes"));
    if (!minutes.isDouble())
        return std::nullopt;
    // Qt answers the fallback for a fraction or a number beyond 64 bits; two
    // different fallbacks tell those from a real value.
    const qint64 whole = minutes.toInteger(0);
    if (whole != minutes.toInteger(1))
        return std::nullopt;
    return ExtendRequest{whole};
}
