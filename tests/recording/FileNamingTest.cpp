#include "FileNaming.h"
#include "RecordingsFolder.h"

#include <gtest/gtest.h>

// The test runs with TZ set to central European time, so 19:00 UTC on
// 1 May 2024 is 21:00 local time.
namespace {

const QDateTime kStart(QDate(2024, 5, 1), QTime(19, 0, 0), Qt::UTC);
const QUuid kId = QUuid::fromString(QStringLiteral("1a2b3c4d-1111-4222-8333-444455556666"));

QString name(const QString &title)
{
    return makeFileName(title, kStart, kId);
}

} // namespace

TEST(FileNaming, ForbiddenAndControlCharactersBecomeSpaces)
{
    EXPECT_EQ(name(QStringLiteral("a/b\\c:d?e%f*g|h\"i<j>k")),
              QStringLiteral("a b c d e f g h i j k 2024-05-01 21.00 1A2B3C.ts"));
    EXPECT_EQ(name(QStringLiteral("x\t\ny\x7f" "z")), QStringLiteral("x  y z 2024-05-01 21.00 1A2B3C.ts"));
    // A title of nothing but forbidden characters and spaces leaves an empty
    // title, so the name begins with the separating space.
    EXPECT_EQ(name(QStringLiteral(" /:* ")), QStringLiteral(" 2024-05-01 21.00 1A2B3C.ts"));
    // Unicode space separators are trimmed too.
    EXPECT_EQ(name(QString::fromUtf8("\u00a0\u2003 Film \u3000")), QStringLiteral("Film 2024-05-01 21.00 1A2B3C.ts"));
}

TEST(FileNaming, CutsAtEightyUserPerceivedCharacters)
{
    // A family emoji is five code points (seven UTF-16 units) but one character.
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    EXPECT_EQ(name(family.repeated(85)), family.repeated(80) + QStringLiteral(" 2024-05-01 21.00 1A2B3C.ts"));

    // "e" + combining acute counts once; a space at the cut stays.
    const QString accented = QString::fromUtf8("e\u0301").repeated(79);
    EXPECT_EQ(name(accented + QStringLiteral(" tail")),
              accented + QStringLiteral("  2024-05-01 21.00 1A2B3C.ts"));
}

TEST(RecordingsFolder, OnlyPlainFileNamesResolve)
{
    EXPECT_EQ(recordingFilePath(QStringLiteral("/srv/tv"), QStringLiteral("a b.ts")), QStringLiteral("/srv/tv/a b.ts"));
    for (const char *bad : {"", ".", "..", "../x.ts", "/etc/passwd", "sub/x.ts"})
        EXPECT_FALSE(recordingFilePath(QStringLiteral("/srv/tv"), QString::fromLatin1(bad))) << bad;
    EXPECT_TRUE(isPlainFileName(QStringLiteral("..x.ts")));
}
