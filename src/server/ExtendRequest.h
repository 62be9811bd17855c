#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// The body of POST /api/recordings/ID/extend: {"minutes": N}, N a whole
// number. Whether N is an acceptable extension is the manager's decision.
struct ExtendRequest
{
    qint64 minutes = 0;

    static std::optional<ExtendRequest> decode(const QByteArray &body);
};
