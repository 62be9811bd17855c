#include "WakeRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

// Ids up to 2^53 survive a JSON number unchanged.
constexpr double kLargestID = 9007199254740992.0;
// Far enough for any real date, near enough that milliseconds fit.
constexpr double kLargestSeconds = 1e12;

} // namespace

std::optional<WakeRequest> WakeRequest::parse(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue method = object.value(QStringLiteral("method"));
    const QJsonValue date = object.value(QStringLiteral("date"));
    if (!id.isDouble() || !method.isString() || !date.isDouble())
        return std::nullopt;
    const double idNumber = id.toDouble();
    const double seconds = date.toDouble();
    if (idNumber < 0 || idNumber > kLargestID || std::trunc(idNumber) != idNumber || !std::isfinite(seconds)
        || std::abs(seconds) > kLargestSeconds)
        return std::nullopt;

    WakeRequest request;
    if (method.toString() == QLatin1String("scheduleWakeAt"))
        request.method = Method::ScheduleWakeAt;
    else if (method.toString() == QLatin1String("cancelWakeAt"))
        request.method = Method::CancelWakeAt;
    else
        return std::nullopt;
    request.id = qint64(idNumber);
    request.date = QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000), Qt::UTC);
    return request;
}

QByteArray WakeRequest::reply(qint64 id, bool accepted)
{
    const QJsonObject object{{QStringLiteral("id"), id}, {QStringLiteral("reply"), accepted}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
