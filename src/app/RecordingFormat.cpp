#include "RecordingFormat.h"

#include <QRegularExpression>
#include <QStringList>
#include <array>
#include <cmath>

namespace RecordingFormat {

QString mediumDateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    // The weekday together with the punctuation and spaces that tie it to
    // the rest, wherever the locale puts it.
    static const QRegularExpression weekday(QStringLiteral("[,.\\s]*d{4}[,.\\s]*"));
    const QRegularExpressionMatch match = weekday.match(format);
    if (match.hasMatch()) {
        const bool atEdge = match.capturedStart() == 0 || match.capturedEnd() == format.size();
        format.replace(match.capturedStart(), match.capturedLength(), atEdge ? QString() : QStringLiteral(" "));
    }
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString dayAndTime(const QDateTime &date, const QDateTime &now, const QLocale &locale)
{
    const QDateTime local = date.toLocalTime();
    const qint64 days = now.toLocalTime().date().daysTo(local.date());
    QString day;
    if (days == 0)
        day = QStringLiteral("Today");
    else if (days == 1)
        day = QStringLiteral("Tomorrow");
    else if (days == -1)
        day = QStringLiteral("Yesterday");
    else
        day = locale.toString(local.date(), mediumDateFormat(locale));
    return day + QStringLiteral(", ") + timeOnly(date, locale);
}

QString shortTimeFormat(const QLocale &locale)
{
    // Some locales (C among them) keep the seconds in their short format;
    // a programme's times are whole minutes.
    static const QRegularExpression seconds(QStringLiteral("[:.]s{1,2}"));
    return locale.timeFormat(QLocale::ShortFormat).remove(seconds);
}

QString timeOnly(const QDateTime &date, const QLocale &locale)
{
    return locale.toString(date.toLocalTime().time(), shortTimeFormat(locale));
}

QString programmeTime(const Recording &recording, const QDateTime &now, const QLocale &locale)
{
    return dayAndTime(recording.programStart, now, locale) + QStringLiteral(" – ")
        + timeOnly(recording.programEnd, locale);
}

QString byteCount(qint64 bytes, const QLocale &locale)
{
    if (bytes < 1)
        return {};
    if (bytes < 1000)
        return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
    struct Unit
    {
        const char *name;
        int decimals;
    };
    static constexpr std::array<Unit, 4> units{{{"kB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}}};
    double value = double(bytes) / 1000.0;
    std::size_t unit = 0;
    // Move up while the value, once rounded, would reach 1000.
    while (unit + 1 < units.size()
           && std::round(value * std::pow(10, units[unit].decimals)) >= 1000 * std::pow(10, units[unit].decimals)) {
        value /= 1000.0;
        ++unit;
    }
    return locale.toString(value, 'f', units[unit].decimals) + QLatin1Char(' ') + QLatin1String(units[unit].name);
}

StatusText statusText(const Recording &recording, const QLocale &locale)
{
    using Status = Recording::Status;
    switch (recording.status) {
    case Status::Scheduled:
        return {QStringLiteral("Scheduled"), TextTone::Secondary};
    case Status::Recording:
        return {QStringLiteral("● Recording until ") + timeOnly(recording.endDate, locale), TextTone::Red};
    case Status::Finished:
        return {QStringLiteral("Finished"), TextTone::Label};
    case Status::Stopped:
        return {QStringLiteral("Stopped early"), TextTone::Label};
    case Status::Interrupted:
        return {QStringLiteral("Interrupted"), TextTone::Orange};
    case Status::Failed:
        return {QStringLiteral("Failed: ") + recording.errorMessage.value_or(QStringLiteral("unknown error")),
                TextTone::Orange};
    case Status::Waiting:
        return {QStringLiteral("Waiting for a free provider connection"), TextTone::Orange};
    }
    return {};
}

namespace {

QString counted(qint64 count, const char *one, const char *many)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    const qint64 rest = seconds % 60;
    return QStringLiteral("%1 min").arg(seconds / 60) + (rest ? QStringLiteral(" %1 s").arg(rest) : QString());
}

} // namespace

QString gapsText(const Recording &recording)
{
    QStringList parts;
    if (recording.reconnects > 0)
        parts.append(counted(recording.reconnects, "gap", "gaps"));
    if (recording.secondsMissing > 0)
        parts.append(duration(recording.secondsMissing) + QStringLiteral(" missing"));
    if (recording.skippedSegments > 0)
        parts.append(counted(recording.skippedSegments, "segment skipped", "segments skipped"));
    return parts.join(QStringLiteral(", "));
}

} // namespace RecordingFormat
