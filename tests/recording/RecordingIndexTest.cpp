#include "JSONCoding.h"
#include "RecordingIndex.h"
#include "RecordingManager.h"
#include "RecordingsFolder.h"
#include "TestSupport.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Status = Recording::Status;

Recording recordingWith(Status status, const QString &fileName, qint64 bytes)
{
    Recording r;
    r.id = QUuid::createUuid();
    r.title = QStringLiteral("Show");
    r.channelName = QStringLiteral("One");
    r.channelID = QStringLiteral("1");
    r.streamURL = QStringLiteral("http://127.0.0.1:9/s.ts");
    r.programStart = QDateTime(QDate(2024, 5, 1), QTime(19, 0), Qt::UTC);
    r.programEnd = r.programStart.addSecs(3600);
    r.startDate = r.programStart;
    r.endDate = r.programEnd.addSecs(300);
    r.fileName = fileName;
    r.status = status;
    r.bytes = bytes;
    return r;
}

class RecordingIndexTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        QSettings().setValue(QLatin1String(kFolderPathSettingKey), folder.path());
    }
    void TearDown() override { testsupport::clearSettings(); }

    QString path(const QString &name) const { return QDir(folder.path()).filePath(name); }
    void writeIndexBytes(const QByteArray &bytes) { testsupport::writeFile(path(QStringLiteral("recordings.json")), bytes); }

    QTemporaryDir folder;
};

} // namespace

TEST_F(RecordingIndexTest, LoadRepairsRunningAndTakesSizesFromFiles)
{
    testsupport::writeFile(path(QStringLiteral("running.ts")), QByteArray(1234, 'x'));
    testsupport::writeFile(path(QStringLiteral("done.ts")), QByteArray(10, 'y'));
    const QList<Recording> stored = {
        recordingWith(Status::Recording, QStringLiteral("running.ts"), 5),
        recordingWith(Status::Finished, QStringLiteral("done.ts"), 999),
        recordingWith(Status::Finished, QStringLiteral("gone.ts"), 999),
        recordingWith(Status::Scheduled, QStringLiteral("later.ts"), 0),
        recordingWith(Status::Waiting, QStringLiteral("waiting.ts"), 7),
    };
    ASSERT_FALSE(writeIndex(folder.path(), stored));

    const QList<Recording> loaded = readIndex(folder.path());
    ASSERT_EQ(loaded.size(), 5);
    EXPECT_EQ(loaded[0].status, Status::Interrupted);
    EXPECT_EQ(loaded[0].bytes, 1234);
    EXPECT_EQ(loaded[1].bytes, 10);
    EXPECT_EQ(loaded[2].bytes, 0);
    EXPECT_FALSE(loaded[2].isPlayable());
    EXPECT_EQ(loaded[3].status, Status::Scheduled);
    EXPECT_EQ(loaded[4].bytes, 7) << "waiting recordings keep their count";
    EXPECT_EQ(loaded[1].id, stored[1].id) << "order kept";
}

TEST_F(RecordingIndexTest, FileNamesOutsideTheFolderCountAsMissing)
{
    QTemporaryDir outside;
    testsupport::writeFile(QDir(outside.path()).filePath(QStringLiteral("secret.ts")), QByteArray(50, 's'));
    const QString escape = QStringLiteral("../") + QDir(outside.path()).dirName() + QStringLiteral("/secret.ts");
    ASSERT_FALSE(writeIndex(folder.path(), {recordingWith(Status::Finished, escape, 50),
                                            recordingWith(Status::Finished, QStringLiteral(".."), 50)}));
    const QList<Recording> loaded = readIndex(folder.path());
    ASSERT_EQ(loaded.size(), 2);
    EXPECT_EQ(loaded[0].bytes, 0);
    EXPECT_EQ(loaded[1].bytes, 0);
}

TEST_F(RecordingIndexTest, UndecodableIndexIsKeptAsideAndNotLost)
{
    QByteArray bad = sharedJSONEncoder().data(
        sharedJSONEncoder().encode(QList<Recording>{recordingWith(Status::Finished, QStringLiteral("a.ts"), 1)}));
    bad.replace("\"finished\"", "\"paused\"");
    writeIndexBytes(bad);

    RecordingManager manager;
    EXPECT_TRUE(manager.recordings().isEmpty());
    manager.saveIndex();

    const QStringList kept = QDir(folder.path()).entryList({QStringLiteral("recordings.json.unreadable-*")});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(testsupport::readFile(path(kept.first())), bad);
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("recordings.json"))).trimmed(), QByteArray("[\n]"));
}

TEST_F(RecordingIndexTest, MissingIndexIsEmptyAndSaveCreatesFolder)
{
    const QString nested = path(QStringLiteral("deeper/still"));
    QSettings().setValue(QLatin1String(kFolderPathSettingKey), nested);
    RecordingManager manager;
    QSignalSpy changes(&manager, &RecordingManager::recordingsDidChange);
    EXPECT_TRUE(manager.recordings().isEmpty());
    EXPECT_FALSE(QDir(nested).exists()) << "loading creates nothing";
    manager.saveIndex();
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(QFile::exists(QDir(nested).filePath(QStringLiteral("recordings.json"))));
    EXPECT_TRUE(QDir(folder.path()).entryList({QStringLiteral("*.unreadable-*")}).isEmpty());
}

TEST_F(RecordingIndexTest, SaveFailureLeavesOldIndexIntact)
{
    const QByteArray before = "[\n]\n";
    writeIndexBytes(before);
    // A file where the folder should be makes the save fail.
    const QString blocked = path(QStringLiteral("blocked"));
    testsupport::writeFile(blocked, "x");
    EXPECT_TRUE(writeIndex(blocked, {}));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("recordings.json"))), before);
}
