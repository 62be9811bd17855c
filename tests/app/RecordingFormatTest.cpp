#include "RecordingFormat.h"

#include <gtest/gtest.h>

TEST(RecordingFormat, DaysAreNamedInLocalTimeAndSizesRoundUpAtTheUnitBoundary)
{
    // 22:30 UTC in March is 23:30 local time on the same day; 23:30 UTC is
    // already the next day.
    const QDateTime now = QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC);
    EXPECT_EQ(RecordingFormat::dayAndTime(QDateTime(QDate(2025, 3, 10), QTime(22, 30), Qt::UTC), now),
              QStringLiteral("Today, 23:30"));
    EXPECT_EQ(RecordingFormat::dayAndTime(QDateTime(QDate(2025, 3, 10), QTime(23, 30), Qt::UTC), now),
              QStringLiteral("Tomorrow, 00:30"));
    EXPECT_EQ(RecordingFormat::byteCount(0), QString());
    EXPECT_EQ(RecordingFormat::byteCount(999'499), QStringLiteral("999 kB"));
    EXPECT_EQ(RecordingFormat::byteCount(999'500), QStringLiteral("1.0 MB"));
}
