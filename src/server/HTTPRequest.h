#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

// One parsed HTTP request. The method is upper-cased, the path has its query
// dropped and is percent-decoded (empty when the request line was too short
// or the path held a malformed escape); header names are lower-cased.
struct HTTPRequest
{
    QString method;
    QString path;
    QHash<QString, QString> headers;
    QByteArray body;

    std::optional<QString> header(const QString &lowerCaseName) const
    {
        const auto found = headers.constFind(lowerCaseName);
        if (found == headers.constEnd())
            return std::nullopt;
        return *found;
    }
};
