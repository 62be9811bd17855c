#include "Recording.h"

#include <array>
#include <utility>

namespace {

using Status = Recording::Status;

constexpr std::array<std::pair<Status, const char *>, 7> kRawValues{{
    {Status::Scheduled, "scheduled"},
    {Status::Recording, "recording"},
    {Status::Finished, "finished"},
    {Status::Stopped, "stopped"},
    {Status::Interrupted, "interrupted"},
    {Status::Failed, "failed"},
    {Status::Waiting, "waiting"},
}};

} // namespace

QString statusRawValue(Recording::Status status)
{
    for (const auto &[value, raw] : kRawValues) {
        if (value == status)
            return QString::fromLatin1(raw);
    }
    return {};
}

std::optional<Recording::Status> statusFromRawValue(const QString &raw)
{
    for (const auto &[value, text] : kRawValues) {
        if (raw == QLatin1String(text))
            return value;
    }
    return std::nullopt;
}

std::optional<QUuid> uuidFromCanonicalText(const QString &text)
{
    static const QString nilText = QUuid().toString(QUuid::WithoutBraces);
    if (text.size() != 36)
        return std::nullopt;
    // Qt answers the nil id for text it cannot read, so the nil id itself is
    // told apart by its text.
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != nilText)
        return std::nullopt;
    return id;
}

bool isStorableDate(const QDateTime &date)
{
    if (!date.isValid())
        return false;
    const int year = date.toUTC().date().year();
    return year >= 1 && year <= 9999;
}
