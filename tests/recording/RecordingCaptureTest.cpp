#include "FakeProvider.h"
#include "LogCapture.h"
#include "ManagerTestSupport.h"

#include <QFile>
#include <QSignalSpy>

// The manager driving real recorders against a local provider.
namespace {

using Status = Recording::Status;
using namespace std::chrono_literals;

class ManagerCaptureTest : public ManagerTest
{
protected:
    // Stores a recording due now whose capture ends after untilEnd.
    Recording storeDue(const QString &path, std::chrono::milliseconds untilEnd,
                       const QString &fileName = QStringLiteral("due.ts"))
    {
        const Recording r = due(provider.url(path).toString(), fileName, untilEnd);
        storeIndex({r});
        return r;
    }

    // A request for a programme on air on the provider's path.
    RecordingRequest onAir(const QString &path, const QString &channel = QStringLiteral("ch1")) const
    {
        return request(provider.url(path).toString(), now().addSecs(-60), now().addSecs(3600), channel);
    }

    // Drops the recorder's connection once data flows and waits until it
    // either asked again or ended: it asks again only while its end date
    // lies ahead.
    void dropConnectionAndWait(const QString &path, const QUuid &id)
    {
        const qint64 bytes = manager->recording(id)->bytes;
        ASSERT_TRUE(testsupport::waitUntil([&] { return manager->recording(id)->bytes > bytes; }));
        const int asked = provider.requestCount(path);
        provider.closeConnections();
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return provider.requestCount(path) > asked || statusOf(id) != Status::Recording; }));
    }

    FakeProvider provider;
};

} // namespace

TEST_F(ManagerCaptureTest, FailureKeepsPlannedEndOnlyWhenNothingWasWritten)
{
    provider.serve(QStringLiteral("/refused.ts"), FakeProvider::Answer::status(404));
    const Recording stored = storeDue(QStringLiteral("/refused.ts"), 10s);
    // Three failures in a row end the recording quickly.
    makeManager([](RecordingManager::Environment &environment) { environment.recorderTiming.failureLimit = 3; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(stored.id) == Status::Failed; }));
    const Recording failed = *manager->recording(stored.id);
    EXPECT_EQ(failed.errorMessage, QStringLiteral("The provider refused the stream (HTTP 404)."));
    EXPECT_EQ(failed.endDate, stored.endDate) << "nothing captured: the planned end stays";
    EXPECT_EQ(failed.bytes, 0);
}

TEST_F(ManagerCaptureTest, DeletingARunningRecordingRemovesEntryAndFileSilently)
{
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::slowStream(2048, 5ms));
    RecordingManager &m = makeManager();
    const Recording r = value(m.schedule(onAir(QStringLiteral("/stream.ts"))));
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(r.id)->bytes > 0; }));
    const QString path = QDir(folder.path()).filePath(r.fileName);
    ASSERT_TRUE(QFile::exists(path));

    m.deleteRecording(r.id);
    EXPECT_FALSE(m.recording(r.id));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(m.runningCount(), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; })) << "the recorder stopped";
    testsupport::spin(100ms);
    EXPECT_FALSE(m.recording(r.id)) << "no late finish brings it back";
    EXPECT_FALSE(indexText().contains(r.id.toString(QUuid::WithoutBraces).toUpper()));
    EXPECT_FALSE(QFile::exists(path)) << "nothing written after the delete";
}

TEST_F(ManagerCaptureTest, UnsafeFileNamesAndLocalAddressesInTheIndexAreNeverUsed)
{
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::stream());
    const Recording escaping = due(provider.url(QStringLiteral("/stream.ts")).toString(), "../escape.ts", 10s);
    QTemporaryDir outside;
    const QString secret = QDir(outside.path()).filePath(QStringLiteral("secret"));
    testsupport::writeFile(secret, "private");
    const Recording local = due(QUrl::fromLocalFile(secret).toString(), QStringLiteral("local.ts"), 2s);
    storeIndex({escaping, local});
    RecordingManager &m = makeManager();

    EXPECT_EQ(statusOf(escaping.id), Status::Failed);
    EXPECT_TRUE(m.recording(escaping.id)->errorMessage->startsWith(QStringLiteral("Could not write to the recordings folder: ")));
    EXPECT_EQ(provider.requestCount(QStringLiteral("/stream.ts")), 0);
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("../escape.ts"))));

    EXPECT_EQ(statusOf(local.id), Status::Scheduled) << "an unstartable recording keeps waiting for its end";
    EXPECT_EQ(m.runningCount(), 0);
    clock.advance(2s);
    m.checkSchedule();
    EXPECT_EQ(m.recording(local.id)->errorMessage,
              QStringLiteral("The computer was asleep or the recorder was not running at the scheduled time."));
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("local.ts"))));
}

TEST_F(ManagerCaptureTest, ProgressIsAnnouncedButNotSavedAndStopAllStopsEveryRecorderKeepingItsBytes)
{
    provider.serve(QStringLiteral("/a.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    provider.serve(QStringLiteral("/b.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    RecordingManager &m = makeManager();
    QSignalSpy changes(&m, &RecordingManager::recordingsDidChange);
    const Recording a = value(m.schedule(onAir(QStringLiteral("/a.ts"), QStringLiteral("a"))));
    const Recording b = value(m.schedule(onAir(QStringLiteral("/b.ts"), QStringLiteral("b"))));
    ASSERT_EQ(m.runningCount(), 2);
    EXPECT_EQ(a.status, Status::Recording) << "started within schedule()";
    EXPECT_EQ(inhibitor->live, 1);
    const QString afterStart = indexText();
    const int announced = int(changes.count());
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(a.id)->bytes > 4096; }));
    EXPECT_GT(changes.count(), announced) << "progress is announced";
    EXPECT_EQ(indexText(), afterStart) << "progress is never saved";
    clock.advance(90s);
    m.stopAll();
    EXPECT_EQ(m.runningCount(), 2) << "stopAll returns at once";
    EXPECT_EQ(indexText(), afterStart) << "stopAll saves nothing by itself";
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.runningCount() == 0; }));
    EXPECT_EQ(statusOf(b.id), Status::Stopped);
    EXPECT_EQ(inhibitor->live, 0);
    const Recording stopped = *m.recording(a.id);
    EXPECT_EQ(stopped.status, Status::Stopped);
    EXPECT_EQ(stopped.endDate, now());
    const QByteArray file = fileOf(a);
    EXPECT_EQ(stopped.bytes, file.size());
    EXPECT_EQ(file, FakeProvider::content(0, file.size()));
    EXPECT_NE(indexText(), afterStart);
}

TEST_F(ManagerCaptureTest, ExtensionReachesTheRunningRecorder)
{
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::slowStream(512, 10ms));
    const Recording stored = storeDue(QStringLiteral("/stream.ts"), 2s);
    RecordingManager &m = makeManager();
    ASSERT_EQ(statusOf(stored.id), Status::Recording);
    const Recording extended = value(m.extend(stored.id, 1));
    EXPECT_EQ(extended.endDate, stored.endDate.addSecs(60));

    // Past the planned end, a dropped connection is taken up again.
    clock.advance(30s);
    dropConnectionAndWait(QStringLiteral("/stream.ts"), stored.id);
    EXPECT_EQ(statusOf(stored.id), Status::Recording) << "the recorder follows the new end";
    // Past the new end, it is not.
    clock.advance(40s);
    dropConnectionAndWait(QStringLiteral("/stream.ts"), stored.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(stored.id) == Status::Finished; }));
}

TEST_F(ManagerCaptureTest, AfterASuspendRecordingsPastTheirEndFinishAtOnceAndTheOthersEndOnTime)
{
    provider.serve(QStringLiteral("/slept.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    provider.serve(QStringLiteral("/due.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    RecordingManager &m = makeManager();
    // Both end 300 s after their programme: in 15 and in 25 minutes.
    const Recording ended = value(m.schedule(
        request(provider.url(QStringLiteral("/slept.ts")).toString(), now().addSecs(-60), now().addSecs(600), "a")));
    const Recording going = value(m.schedule(
        request(provider.url(QStringLiteral("/due.ts")).toString(), now().addSecs(-60), now().addSecs(1200), "b")));
    ASSERT_EQ(m.runningCount(), 2);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return m.recording(going.id)->bytes > 0 && m.recording(ended.id)->bytes > 0; }));

    // The computer sleeps for 25 minutes less 200 ms: the recorders'
    // monotonic end timers stood still meanwhile.
    clock.advance(25min - 200ms);
    emit wakeNotifier.didWakeFromSleep();
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(ended.id) == Status::Finished; }));
    EXPECT_EQ(statusOf(going.id), Status::Recording) << "200 ms are left";
    const qint64 bytesAtWake = m.recording(going.id)->bytes;
    clock.advance(200ms);
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(going.id) == Status::Finished; }));
    const Recording finished = *m.recording(going.id);
    EXPECT_GT(finished.bytes, bytesAtWake) << "it went on into the same file";
    EXPECT_EQ(fileOf(finished), FakeProvider::content(0, finished.bytes));
}

TEST_F(ManagerCaptureTest, AGapIsLoggedWhenDataComesAgainAndKeptInTheIndex)
{
    provider.serve(QStringLiteral("/a.ts"), {FakeProvider::Answer::stream(20000), FakeProvider::Answer::status(509)});
    RecordingManager &m = makeManager();
    LogCapture log;
    const Recording r = value(m.schedule(onAir(QStringLiteral("/a.ts"))));
    // The provider is full for 14 s.
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(QStringLiteral("/a.ts")) >= 2; }));
    clock.advance(14s);
    provider.serve(QStringLiteral("/a.ts"), FakeProvider::Answer::slowStream(1880, 10ms));
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(r.id)->bytes > 20000; }));
    EXPECT_EQ(log.all().filter(QStringLiteral("gap closed")),
              QStringList{QStringLiteral("[TivoluxRecorder] gap closed in Evening Film: 14 s without data")});

    m.stop(r.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(r.id) == Status::Stopped; }));
    const Recording stopped = *m.recording(r.id);
    EXPECT_EQ(stopped.reconnects, 1);
    EXPECT_EQ(stopped.secondsMissing, 14);
    EXPECT_EQ(stopped.skippedSegments, 0);
    const QString index = indexText();
    EXPECT_TRUE(index.contains(QLatin1String("\"reconnects\": 1")));
    EXPECT_TRUE(index.contains(QLatin1String("\"secondsMissing\": 14")));
    EXPECT_FALSE(index.contains(QLatin1String("skippedSegments"))) << "counts of 0 are left out";
}
