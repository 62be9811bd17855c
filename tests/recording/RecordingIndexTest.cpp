#include "ManagerTestSupport.h"

#include <csignal>
#include <sys/resource.h>

using RecordingIndexTest = ManagerTest;

TEST_F(RecordingIndexTest, LoadRepairsRunningAndTakesSizesFromFiles)
{
    testsupport::writeFile(path(QStringLiteral("running.ts")), QByteArray(1234, 'x'));
    testsupport::writeFile(path(QStringLiteral("done.ts")), QByteArray(10, 'y'));
    const QList<Recording> stored = {
        due(kDeadStream, QStringLiteral("running.ts"), 1h, Status::Recording, 5),
        due(kDeadStream, QStringLiteral("done.ts"), 1h, Status::Finished, 999),
        due(kDeadStream, QStringLiteral("gone.ts"), 1h, Status::Finished, 999),
        due(kDeadStream, QStringLiteral("waiting.ts"), 1h, Status::Waiting, 7),
    };
    storeIndex(stored);
    const QList<Recording> loaded = readIndex(folder.path());
    ASSERT_EQ(loaded.size(), 4);
    EXPECT_EQ(loaded[0].status, Status::Interrupted);
    EXPECT_EQ(loaded[1].id, stored[1].id) << "order kept";
    EXPECT_EQ((QList<qint64>{loaded[0].bytes, loaded[1].bytes, loaded[2].bytes, loaded[3].bytes}),
              (QList<qint64>{1234, 10, 0, 7})) << "sizes from the files; waiting recordings keep their count";
}

TEST_F(RecordingIndexTest, MissingIndexCreatesNothingAndUndecodableOneIsKeptAside)
{
    const QString nested = path(QStringLiteral("deeper/still"));
    QSettings().setValue(QLatin1String(kFolderPathSettingKey), nested);
    EXPECT_TRUE(makeManager().recordings().isEmpty());
    EXPECT_FALSE(QDir(nested).exists()) << "loading creates nothing";
    manager->saveIndex();
    const QString index = QDir(nested).filePath(QStringLiteral("recordings.json"));
    EXPECT_EQ(testsupport::readFile(index).trimmed(), QByteArray("[\n]"));

    const Recording finished = due(kDeadStream, QStringLiteral("a.ts"), 1h, Status::Finished, 1);
    QByteArray bad = sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{finished}));
    bad.replace("\"finished\"", "\"paused\"");
    testsupport::writeFile(index, bad);
    EXPECT_TRUE(makeManager().recordings().isEmpty());
    manager->saveIndex();
    const QStringList kept = QDir(nested).entryList({QStringLiteral("recordings.json.unreadable-*")});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(testsupport::readFile(QDir(nested).filePath(kept.first())), bad);
    EXPECT_EQ(testsupport::readFile(index).trimmed(), QByteArray("[\n]"));
}

TEST_F(RecordingIndexTest, SaveFailureLeavesOldIndexIntact)
{
    const QList<Recording> old = {due(kDeadStream, QStringLiteral("old.ts"), 1h, Status::Finished, 0)};
    storeIndex(old);
    const QByteArray before = testsupport::readFile(indexPath());

    // A size limit below the new index and above the old one makes the save
    // over the existing index fail part-way through its writing.
    QList<Recording> many;
    for (int i = 0; i < 50; ++i)
        many.append(due(kDeadStream, QStringLiteral("new%1.ts").arg(i), 1h, Status::Finished, i));
    // Writes beyond the limit fail with EFBIG instead of raising SIGXFSZ.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lowered{rlim_t(before.size() + 100), saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &lowered);
    const auto error = writeIndex(folder.path(), many);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    EXPECT_TRUE(error && !error->isEmpty()) << "failed with a reason";
    EXPECT_EQ(testsupport::readFile(indexPath()), before) << "the old index is untouched";
    EXPECT_EQ(readIndex(folder.path()), old);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("recordings.json")})
        << "no half-written file is left behind";
}
