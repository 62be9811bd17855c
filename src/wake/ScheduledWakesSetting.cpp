#include "ScheduledWakesSetting.h"

#include <QSettings>
#include <QStringList>
#include <QVariantList>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Far enough for any real date, near enough that milliseconds fit.
constexpr double kLargestSeconds = 1e12;

std::optional<double> numberIn(const QVariant &element)
{
    double value = 0;
    bool ok = false;
    switch (element.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        value = element.toDouble(&ok);
        break;
    case QMetaType::QString:
        // The settings file keeps no types: numbers come back as text.
        value = element.toString().trimmed().toDouble(&ok);
        break;
    default:
        break;
    }
    if (!ok || !std::isfinite(value) || std::abs(value) > kLargestSeconds)
        return std::nullopt;
    return value;
}

QVariantList elementsOf(const QVariant &stored)
{
    // A one-element array reads back from the file as a single text.
    if (stored.metaType().id() == QMetaType::QString)
        return {stored};
    return stored.toList();
}

} // namespace

namespace ScheduledWakesSetting {

QSet<qint64> read()
{
    const QVariant stored = QSettings().value(QLatin1String(kKey));
    QSet<qint64> wakes;
    for (const QVariant &element : elementsOf(stored)) {
        const std::optional<double> seconds = numberIn(element);
        if (!seconds)
            return {};
        wakes.insert(std::llround(*seconds * 1000));
    }
    return wakes;
}

QString boot()
{
    return QSettings().value(QLatin1String(kBootKey)).toString();
}

void write(const QSet<qint64> &wakes, const QString &boot)
{
    QList<qint64> sorted(wakes.cbegin(), wakes.cend());
    std::sort(sorted.begin(), sorted.end());
    QVariantList numbers;
    for (const qint64 msecs : std::as_const(sorted))
        numbers.append(double(msecs) / 1000);
    QSettings settings;
    settings.setValue(QLatin1String(kKey), numbers);
    settings.setValue(QLatin1String(kBootKey), boot);
}

} // namespace ScheduledWakesSetting
