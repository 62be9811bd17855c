#include "RecordingFormat.h"

#include <gtest/gtest.h>

namespace {

const QLocale british(QLocale::English, QLocale::UnitedKingdom);
const QLocale american(QLocale::English, QLocale::UnitedStates);

QDateTime localAt(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::LocalTime);
}

} // namespace

TEST(RecordingFormat, DayAndTimeNamesNearbyDaysAndWritesOthersAsMediumDates)
{
    const QDateTime now = localAt(2025, 3, 10, 23, 30);
    EXPECT_EQ(RecordingFormat::dayAndTime(localAt(2025, 3, 10, 0, 5), now, british), QStringLiteral("Today, 00:05"));
    EXPECT_EQ(RecordingFormat::dayAndTime(localAt(2025, 3, 11, 20, 15), now, british),
              QStringLiteral("Tomorrow, 20:15"));
    EXPECT_EQ(RecordingFormat::dayAndTime(localAt(2025, 3, 9, 23, 59), now, british),
              QStringLiteral("Yesterday, 23:59"));
    EXPECT_EQ(RecordingFormat::dayAndTime(localAt(2025, 3, 12, 8, 0), now, british),
              QStringLiteral("12 Mar 2025, 08:00"));
    EXPECT_EQ(RecordingFormat::dayAndTime(localAt(2025, 3, 12, 8, 0), now, american),
              QStringLiteral("Mar 12, 2025, 8:00 AM"));
}

TEST(RecordingFormat, DatesAreWrittenInLocalTimeFromUTCValues)
{
    // The tests run in Central European time: 22:30 UTC in March is 23:30
    // local time on the same day, and 23:30 UTC is already the next day.
    const QDateTime now = QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC);
    EXPECT_EQ(RecordingFormat::dayAndTime(QDateTime(QDate(2025, 3, 10), QTime(22, 30), Qt::UTC), now, british),
              QStringLiteral("Today, 23:30"));
    EXPECT_EQ(RecordingFormat::dayAndTime(QDateTime(QDate(2025, 3, 10), QTime(23, 30), Qt::UTC), now, british),
              QStringLiteral("Tomorrow, 00:30"));
}

TEST(RecordingFormat, TimesHaveNoSecondsEvenWhereTheLocaleWritesThem)
{
    const QDateTime date = localAt(2025, 3, 10, 7, 5);
    EXPECT_EQ(RecordingFormat::timeOnly(date, QLocale::c()), QStringLiteral("07:05"));
    EXPECT_EQ(RecordingFormat::timeOnly(date, american), QStringLiteral("7:05 AM"));

    Recording r;
    r.programStart = localAt(2025, 3, 10, 20, 15);
    r.programEnd = localAt(2025, 3, 10, 21, 45);
    EXPECT_EQ(RecordingFormat::programmeTime(r, localAt(2025, 3, 10, 9, 0), british),
              QStringLiteral("Today, 20:15 – 21:45"));
}

TEST(RecordingFormat, SizesUseDecimalUnitsAndRoundUpToTheNextUnit)
{
    EXPECT_EQ(RecordingFormat::byteCount(0, british), QString());
    EXPECT_EQ(RecordingFormat::byteCount(1, british), QStringLiteral("1 byte"));
    EXPECT_EQ(RecordingFormat::byteCount(999, british), QStringLiteral("999 bytes"));
    EXPECT_EQ(RecordingFormat::byteCount(1024, british), QStringLiteral("1 kB"));
    EXPECT_EQ(RecordingFormat::byteCount(999'499, british), QStringLiteral("999 kB"));
    EXPECT_EQ(RecordingFormat::byteCount(999'500, british), QStringLiteral("1.0 MB"));
    EXPECT_EQ(RecordingFormat::byteCount(1'873'400'000, british), QStringLiteral("1.87 GB"));
    EXPECT_EQ(RecordingFormat::byteCount(2'500'000'000'000, british), QStringLiteral("2.50 TB"));
    EXPECT_EQ(RecordingFormat::byteCount(1'500'000, QLocale(QLocale::German, QLocale::Germany)),
              QStringLiteral("1,5 MB"));
}
