#include "ManagerTestSupport.h"

// A failure keeps the planned end only when nothing was written. Unsafe
// entries never start: an unstartable one waits for its end and fails then as
// one missed while asleep; one that failed so in an earlier version keeps its
// message.
TEST_F(ManagerCaptureTest, FailedAndUnsafeEntriesOfTheIndex)
{
    provider.serve(QStringLiteral("/refused.ts"), FakeProvider::Answer::status(404));
    provider.serve(QStringLiteral("/partial.ts"), {FakeProvider::Answer::stream(1880), FakeProvider::Answer::status(404)});
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::stream());
    const Recording refused = due(url("/refused.ts"), QStringLiteral("refused.ts"), 10s);
    const Recording partial = due(url("/partial.ts"), QStringLiteral("partial.ts"), 10s);
    const Recording escaping = due(url("/stream.ts"), "../escape.ts", 10s);
    QTemporaryDir outside;
    const QString secret = QDir(outside.path()).filePath(QStringLiteral("secret"));
    testsupport::writeFile(secret, "private");
    const Recording local = due(QUrl::fromLocalFile(secret).toString(), QStringLiteral("local.ts"), 2s);
    Recording earlier = due(url("/stream.ts"), QStringLiteral("earlier.ts"), -1s, Status::Failed);
    earlier.errorMessage = QStringLiteral("The Mac was asleep or the recorder was not running at the scheduled time.");
    storeIndex({refused, partial, escaping, local, earlier});
    RecordingManager &m = makeManager([](RecordingManager::Environment &e) { e.recorderTiming.failureLimit = 3; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.runningCount() == 0; }));
    for (const QUuid &id : {refused.id, partial.id}) {
        EXPECT_EQ(statusOf(id), Status::Failed);
        EXPECT_EQ(m.recording(id)->errorMessage, QStringLiteral("The provider refused the stream (HTTP 404)."));
    }
    EXPECT_EQ(m.recording(refused.id)->endDate, refused.endDate) << "nothing captured: the planned end stays";
    EXPECT_EQ(m.recording(partial.id)->endDate, now()) << "the capture ended now";
    EXPECT_EQ(m.recording(partial.id)->bytes, 1880);

    EXPECT_EQ(statusOf(escaping.id), Status::Failed);
    EXPECT_TRUE(m.recording(escaping.id)->errorMessage->startsWith(QStringLiteral("Could not write to the recordings folder: ")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("../escape.ts"))));
    EXPECT_EQ(statusOf(local.id), Status::Scheduled);
    const Recording missed = value(m.schedule(request(url("/stream.ts"), now().addSecs(60), now().addSecs(120))));
    advance(10min);
    emit wakeNotifier.didWakeFromSleep();
    for (const QUuid &id : {local.id, missed.id}) {
        EXPECT_EQ(statusOf(id), Status::Failed);
        EXPECT_EQ(m.recording(id)->errorMessage,
                  QStringLiteral("The computer was asleep or the recorder was not running at the scheduled time."));
    }
    EXPECT_EQ(provider.requestCount(QStringLiteral("/stream.ts")), 0) << "none of them was started";
    EXPECT_EQ(readIndex(folder.path()), m.recordings());
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("local.ts"))));
    EXPECT_EQ(m.recording(earlier.id)->errorMessage, earlier.errorMessage);
}

TEST_F(ManagerCaptureTest, ProgressIsAnnouncedNotSavedDeleteIsSilentAndStopAllKeepsTheBytes)
{
    for (const char *p : {"/a.ts", "/c.ts"})
        provider.serve(QString::fromLatin1(p), FakeProvider::Answer::slowStream(1024, 5ms));
    RecordingManager &m = makeManager();
    QSignalSpy changes(&m, &RecordingManager::recordingsDidChange);
    const Recording a = value(m.schedule(onAir(url("/a.ts"), "a")));
    const Recording deleted = value(m.schedule(onAir(url("/c.ts"), "c")));
    ASSERT_EQ(m.runningCount(), 2);
    EXPECT_EQ(a.status, Status::Recording) << "started within schedule()";
    EXPECT_EQ(inhibitor->live, 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(deleted.id)->bytes > 0; }));

    // Deleting a running recording removes its entry and file, and no late finish brings either back.
    m.deleteRecording(deleted.id);
    EXPECT_FALSE(m.recording(deleted.id));
    EXPECT_FALSE(QFile::exists(path(deleted.fileName)));
    EXPECT_EQ(m.runningCount(), 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 1; })) << "its recorder stopped";

    const QString afterStart = indexText();
    const int announced = int(changes.count());
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(a.id)->bytes > 4096; }));
    EXPECT_GT(changes.count(), announced) << "progress is announced";
    EXPECT_EQ(indexText(), afterStart) << "progress is never saved";
    advance(90s);
    m.stopAll();
    EXPECT_EQ(m.runningCount(), 1) << "stopAll returns at once";
    EXPECT_EQ(indexText(), afterStart) << "stopAll saves nothing by itself";
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.runningCount() == 0; }));
    EXPECT_EQ(inhibitor->live, 0);
    const Recording stopped = *m.recording(a.id);
    EXPECT_EQ(stopped.status, Status::Stopped);
    EXPECT_EQ(stopped.endDate, now());
    EXPECT_EQ(fileOf(a), FakeProvider::content(0, stopped.bytes));
    EXPECT_EQ(readIndex(folder.path()), m.recordings()) << "the ends are saved";
    EXPECT_FALSE(m.recording(deleted.id));
    EXPECT_FALSE(QFile::exists(path(deleted.fileName))) << "nothing written after the delete";
}

TEST_F(ManagerCaptureTest, AfterASuspendRecordingsPastTheirEndFinishAtOnceAndTheOthersEndOnTime)
{
    provider.serve(QStringLiteral("/slept.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    provider.serve(QStringLiteral("/due.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    RecordingManager &m = makeManager();
    // Both end 300 s after their programme: in 15 and in 25 minutes.
    const Recording ended = value(m.schedule(request(url("/slept.ts"), now().addSecs(-60), now().addSecs(600), "a")));
    const Recording going = value(m.schedule(request(url("/due.ts"), now().addSecs(-60), now().addSecs(1200), "b")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(going.id)->bytes && m.recording(ended.id)->bytes; }));

    // The computer sleeps for 25 minutes less 200 ms; the recorders' monotonic timers stood still.
    advance(25min - 200ms);
    emit wakeNotifier.didWakeFromSleep();
    ASSERT_TRUE(waitFor(ended.id, Status::Finished));
    EXPECT_EQ(statusOf(going.id), Status::Recording) << "200 ms are left";
    const qint64 bytesAtWake = m.recording(going.id)->bytes;
    advance(200ms);
    ASSERT_TRUE(waitFor(going.id, Status::Finished));
    const Recording finished = *m.recording(going.id);
    EXPECT_GT(finished.bytes, bytesAtWake) << "it went on into the same file";
    EXPECT_EQ(fileOf(finished), FakeProvider::content(0, finished.bytes));
}

TEST_F(ManagerCaptureTest, AGapIsLoggedWhenDataComesAgainAndKeptInTheIndex)
{
    provider.serve(QStringLiteral("/a.ts"), {FakeProvider::Answer::stream(20000), FakeProvider::Answer::status(509)});
    RecordingManager &m = makeManager();
    LogCapture log;
    const Recording r = value(m.schedule(onAir(url("/a.ts"))));
    // The provider is full for 14 s.
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(QStringLiteral("/a.ts")) >= 2; }));
    advance(14s);
    provider.serve(QStringLiteral("/a.ts"), FakeProvider::Answer::slowStream(1880, 10ms));
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(r.id)->bytes > 20000; }));
    EXPECT_EQ(log.all().filter(QStringLiteral("gap closed")),
              QStringList{QStringLiteral("[TivoluxRecorder] gap closed in Evening Film: 14 s without data")});

    m.stop(r.id);
    ASSERT_TRUE(waitFor(r.id, Status::Stopped));
    const Recording stopped = *m.recording(r.id);
    EXPECT_EQ(stopped.reconnects, 1);
    EXPECT_EQ(stopped.secondsMissing, 14);
    EXPECT_EQ(stopped.skippedSegments, 0);
    EXPECT_EQ(readIndex(folder.path()), QList<Recording>{stopped}) << "the counts are saved";
}
