#pragma once

#include <QByteArray>
#include <QDateTime>
#include <optional>

// One request of the application, a single line of JSON:
//   {"id":1,"method":"scheduleWakeAt","date":1767225600}
// (method "scheduleWakeAt" or "cancelWakeAt", date in seconds since
// 1970-01-01 00:00:00 UTC), answered by {"id":1,"reply":true}.
struct WakeRequest
{
    enum class Method { ScheduleWakeAt, CancelWakeAt };

    qint64 id = 0;
    Method method = Method::ScheduleWakeAt;
    QDateTime date;

    // Nothing when the line is not a well-formed request.
    static std::optional<WakeRequest> parse(const QByteArray &line);
    // The reply line, with its line end.
    static QByteArray reply(qint64 id, bool accepted);
};
