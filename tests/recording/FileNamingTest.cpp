#include "FileNaming.h"
#include "RecordingsFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The test runs with TZ set to central European time, so 19:00 UTC on
// 1 May 2024 is 21:00 local time.
TEST(FileNaming, TitlesAreCleanedAndCutToEightyCharactersAnd255Bytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tail = QStringLiteral(" 2024-05-01 21.00 1A2B3C.ts"); // 27 bytes, leaving 228
    // A family emoji is five code points but one character, of 18 bytes.
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString a = QStringLiteral("a");
    const QString accent = QString::fromUtf8("e\u0301"); // one character, 3 bytes, never split
    const struct
    {
        QString title;
        QString kept;
    } cases[] = {
        {QStringLiteral("a/b\\c:d?e%f*g|h\"i<j>k"), QStringLiteral("a b c d e f g h i j k")},
        {QStringLiteral("x\t\ny\x7f" "z"), QStringLiteral("x  y z")},
        {QStringLiteral(" /:* "), QString()}, // nothing left: the name begins with the space
        {QString::fromUtf8("\u00a0\u2003 Film \u3000"), QStringLiteral("Film")}, // Unicode spaces trimmed
        {a.repeated(79) + family + QStringLiteral("bc"), a.repeated(79) + family},
        {a.repeated(70) + accent.repeated(9) + QStringLiteral(" tail"), a.repeated(70) + accent.repeated(9) + ' '},
        {QString::fromUtf8("\u756A").repeated(77), QString::fromUtf8("\u756A").repeated(76)}, // 3 bytes: 228 exactly
        {QString::fromUtf8("\uD55C").repeated(76), QString::fromUtf8("\uD55C").repeated(76)}, // at the limit, whole
        {family.repeated(80), family.repeated(12)}, // 216 bytes; 13 would be 234
        {accent.repeated(80), accent.repeated(76)},
        {QString::fromUtf8("\u00E9").repeated(80), QString::fromUtf8("\u00E9").repeated(80)}, // 80 characters first
    };
    for (const auto &c : cases) {
        const QString fileName = makeFileName(c.title, QDateTime(QDate(2024, 5, 1), QTime(19, 0), Qt::UTC),
                                              QUuid::fromString(QStringLiteral("1a2b3c4d-1111-4222-8333-444455556666")));
        SCOPED_TRACE(fileName.toStdString());
        EXPECT_EQ(fileName, c.kept + tail);
        QFile file(QDir(dir.path()).filePath(fileName));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << file.errorString().toStdString();
    }
}

TEST(RecordingsFolder, OnlyPlainFileNamesResolve)
{
    EXPECT_EQ(recordingFilePath(QStringLiteral("/srv/tv"), QStringLiteral("a b.ts")), QStringLiteral("/srv/tv/a b.ts"));
    for (const char *bad : {"", ".", "..", "../x.ts", "/etc/passwd", "sub/x.ts"})
        EXPECT_FALSE(recordingFilePath(QStringLiteral("/srv/tv"), QString::fromLatin1(bad))) << bad;
    EXPECT_TRUE(isPlainFileName(QStringLiteral("..x.ts")));
}
