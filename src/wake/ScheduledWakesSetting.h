#pragma once

#include <QSet>
#include <QString>
#include <QtGlobal>

// The wake dates the helper was last asked to hold, kept in the user's
// settings under "recorder.scheduledWakes" as an array of numbers (seconds
// since 1970-01-01 00:00:00 UTC), and beside it under
// "recorder.scheduledWakesBoot" the boot of the system they were armed in:
// armed wakes do not outlive a reboot. Dates are handled as milliseconds
// since that moment.
namespace ScheduledWakesSetting {

inline constexpr char kKey[] = "recorder.scheduledWakes";
inline constexpr char kBootKey[] = "recorder.scheduledWakesBoot";

// The stored set: empty when the key is missing, and empty as a whole when
// any element is not a number.
QSet<qint64> read();
// The boot the stored set belongs to; empty when none was stored.
QString boot();
void write(const QSet<qint64> &wakes, const QString &boot);

} // namespace ScheduledWakesSetting
