#pragma once

#include "Recording.h"
#include "TextTone.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

// How recordings are written in the main window: dates in the user's locale
// and time zone, sizes in decimal units, statuses as sentences with a tone.
namespace RecordingFormat {

struct StatusText
{
    QString text;
    TextTone tone = TextTone::Label;
};

// The locale's medium date (for example "3 Mar 2025" or "Mar 3, 2025") and
// short time, with "Today", "Tomorrow" and "Yesterday" in place of the date
// when the day, in local time, is one of those relative to now.
QString dayAndTime(const QDateTime &date, const QDateTime &now, const QLocale &locale = QLocale());
// The locale's short time of day in local time.
QString timeOnly(const QDateTime &date, const QLocale &locale = QLocale());
// "<day and time of the start> – <time of the end>".
QString programmeTime(const Recording &recording, const QDateTime &now, const QLocale &locale = QLocale());
// Empty below one byte; otherwise "N bytes", or kB, MB, GB, TB in powers of
// 1000 with 0, 1, 2 and 2 decimals.
QString byteCount(qint64 bytes, const QLocale &locale = QLocale());
StatusText statusText(const Recording &recording, const QLocale &locale = QLocale());
// What the capture missed, for example "2 gaps, 14 s missing" or
// "3 segments skipped"; empty when it missed nothing.
QString gapsText(const Recording &recording);

// The locale's date format without the weekday and with abbreviated month
// names; exposed for tests.
QString mediumDateFormat(const QLocale &locale);
// The locale's short time format without seconds; exposed for tests.
QString shortTimeFormat(const QLocale &locale);

} // namespace RecordingFormat
