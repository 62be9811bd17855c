#include "FileNaming.h"
#include "RecordingsFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
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
    const QString a79 = QStringLiteral("a").repeated(79);
    EXPECT_EQ(name(a79 + family + QStringLiteral("bc")), a79 + family + QStringLiteral(" 2024-05-01 21.00 1A2B3C.ts"));

    // "e" + combining acute counts once; a space at the cut stays.
    const QString accented = QStringLiteral("a").repeated(70) + QString::fromUtf8("e\u0301").repeated(9);
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

// Linux limits one name to 255 bytes: titles in scripts of several bytes per
// character are cut further, at a whole character, and the file can be made.
TEST(FileNaming, WholeNameFitsTheFileSystemLimitAtACharacterBoundary)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tail = QStringLiteral(" 2024-05-01 21.00 1A2B3C.ts"); // 27 bytes, leaving 228
    struct Case
    {
        QString unit;     // one user-perceived character
        int repeat;       // how often the title repeats it
        int expectedKept; // how many survive
    };
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467"); // 18 bytes
    const Case cases[] = {
        {QString::fromUtf8("\u756A"), 77, 76},      // CJK, 3 bytes: 76 fill the 228 exactly
        {QString::fromUtf8("\uD55C"), 76, 76},      // Korean at exactly the limit stays whole
        {family, 80, 12},                          // 12 families are 216 bytes, 13 would be 234
        {QString::fromUtf8("e\u0301"), 80, 76},    // e + combining accent, 3 bytes, never split
        {QString::fromUtf8("\u00E9"), 80, 80},     // 2 bytes: the 80-character rule cuts first
    };
    for (const Case &c : cases) {
        const QString fileName = name(c.unit.repeated(c.repeat));
        SCOPED_TRACE(fileName.toStdString());
        EXPECT_EQ(fileName, c.unit.repeated(c.expectedKept) + tail);
        EXPECT_LE(fileName.toUtf8().size(), 255);
        QFile file(QDir(dir.path()).filePath(fileName));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << file.errorString().toStdString();
    }
}
