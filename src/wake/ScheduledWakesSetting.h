#pragma once

#include <QSet>
#include <QtGlobal>

// The wake dates the helper was last asked to hold, kept in the user's
// settings under "recorder.scheduledWakes" as an array of numbers (seconds
// since 1970-01-01 00:00:00 UTC). Dates are handled as milliseconds since
// that moment.
namespace ScheduledWakesSetting {

inline constexpr char kKey[] = "recorder.scheduledWakes";

// The stored set: empty when the key is missing, and empty as a whole when
// any element is not a number.
QSet<qint64> read();
void write(const QSet<qint64> &wakes);

} // namespace ScheduledWakesSetting
