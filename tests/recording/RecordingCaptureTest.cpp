#include "FakeProvider.h"
#include "LogCapture.h"
#include "ManagerTestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <atomic>

// The manager driving real recorders against a local provider.
namespace {

using Status = Recording::Status;
using namespace std::chrono_literals;

class ManagerCaptureTest : public ManagerTest
{
protected:
    // Stores a recording due now whose capture ends after untilEnd.
    void storeDueRecording(const QString &streamURL, std::chrono::milliseconds untilEnd,
                           const QString &fileName = QStringLiteral("due.ts"))
    {
        Recording r = due(streamURL, fileName, untilEnd);
        r.id = dueId;
        storeIndex({r});
    }

    // A request for a programme on air on the provider's path.
    RecordingRequest onAir(const QString &path, const QString &channel = QStringLiteral("ch1")) const
    {
        return request(provider.url(path).toString(), now().addSecs(-60), now().addSecs(3600), channel);
    }

    Status statusOf(const QUuid &id) const
    {
        const auto r = manager->recording(id);
        return r ? r->status : Status::Scheduled;
    }

    QByteArray fileOf(const QUuid &id) const
    {
        return testsupport::readFile(QDir(folder.path()).filePath(manager->recording(id)->fileName));
    }

    FakeProvider provider;
    const QUuid dueId = QUuid::createUuid();
};

} // namespace

TEST_F(ManagerCaptureTest, FailureKeepsPlannedEndOnlyWhenNothingWasWritten)
{
    provider.serve(QStringLiteral("/refused.ts"), FakeProvider::Answer::status(404));
    storeDueRecording(provider.url(QStringLiteral("/refused.ts")).toString(), 10s);
    const QDateTime plannedEnd = now().addSecs(10);
    // Three failures in a row end the recording quickly.
    makeManager([](RecordingManager::Environment &environment) { environment.recorderTiming.failureLimit = 3; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(dueId) == Status::Failed; }));
    const Recording failed = *manager->recording(dueId);
    EXPECT_EQ(failed.errorMessage, QStringLiteral("The provider refused the stream (HTTP 404)."));
    EXPECT_LE(qAbs(failed.endDate.secsTo(plannedEnd)), 1) << "nothing captured: the planned end stays";
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
    testsupport::spin(200ms);
    EXPECT_FALSE(m.recording(r.id)) << "no late finish brings it back";
    EXPECT_FALSE(indexText().contains(r.id.toString(QUuid::WithoutBraces).toUpper()));
    EXPECT_FALSE(QFile::exists(path)) << "nothing written after the delete";
}

TEST_F(ManagerCaptureTest, FileNameOutsideTheFolderNeverStarts)
{
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::stream());
    storeDueRecording(provider.url(QStringLiteral("/stream.ts")).toString(), 10s, QStringLiteral("../escape.ts"));
    RecordingManager &m = makeManager();
    EXPECT_EQ(statusOf(dueId), Status::Failed);
    EXPECT_TRUE(m.recording(dueId)->errorMessage->startsWith(QStringLiteral("Could not write to the recordings folder: ")));
    EXPECT_EQ(provider.requestCount(QStringLiteral("/stream.ts")), 0);
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("../escape.ts"))));
}

TEST_F(ManagerCaptureTest, LocalFileAddressInTheIndexIsNeverFetched)
{
    QTemporaryDir outside;
    const QString secret = QDir(outside.path()).filePath(QStringLiteral("secret"));
    testsupport::writeFile(secret, "private");
    storeDueRecording(QUrl::fromLocalFile(secret).toString(), 2s);
    RecordingManager &m = makeManager();
    EXPECT_EQ(statusOf(dueId), Status::Scheduled) << "an unstartable recording keeps waiting for its end";
    EXPECT_EQ(m.runningCount(), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(dueId) == Status::Failed; }));
    EXPECT_EQ(m.recording(dueId)->errorMessage,
              QStringLiteral("The computer was asleep or the recorder was not running at the scheduled time."));
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("due.ts"))));
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
    m.stopAll();
    EXPECT_EQ(m.runningCount(), 2) << "stopAll returns at once";
    EXPECT_EQ(indexText(), afterStart) << "stopAll saves nothing by itself";
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.runningCount() == 0; }));
    EXPECT_EQ(statusOf(a.id), Status::Stopped);
    EXPECT_EQ(statusOf(b.id), Status::Stopped);
    EXPECT_EQ(inhibitor->live, 0);
    const Recording stopped = *m.recording(a.id);
    EXPECT_LE(qAbs(stopped.endDate.secsTo(now())), 2);
    const QByteArray file = fileOf(a.id);
    EXPECT_EQ(stopped.bytes, file.size());
    EXPECT_EQ(file, FakeProvider::content(0, file.size()));
    EXPECT_NE(indexText(), afterStart);
}

TEST_F(ManagerCaptureTest, ExtensionReachesTheRunningRecorder)
{
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::slowStream(512, 10ms));
    storeDueRecording(provider.url(QStringLiteral("/stream.ts")).toString(), 2s);
    RecordingManager &m = makeManager();
    ASSERT_EQ(statusOf(dueId), Status::Recording);
    const QDateTime plannedEnd = m.recording(dueId)->endDate;
    const Recording extended = value(m.extend(dueId, 1));
    EXPECT_GE(extended.endDate, plannedEnd.addSecs(60));
    testsupport::spin(3s);
    EXPECT_EQ(statusOf(dueId), Status::Recording) << "the recorder follows the new end";
    m.stop(dueId);
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(dueId) == Status::Stopped; }));
}

TEST_F(ManagerCaptureTest, AfterASuspendRecordingsPastTheirEndFinishAtOnceAndTheOthersEndOnTime)
{
    provider.serve(QStringLiteral("/slept.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    provider.serve(QStringLiteral("/due.ts"), FakeProvider::Answer::slowStream(1024, 5ms));
    // The recorders' wall clock. The computer "sleeps" by moving it on,
    // while their monotonic end timers stand still.
    auto slept = std::make_shared<std::atomic<qint64>>(0);
    RecordingManager &m = makeManager([slept](RecordingManager::Environment &environment) {
        environment.recorderTiming.now = [slept] { return QDateTime::currentDateTimeUtc().addMSecs(*slept); };
    });
    // Both end 300 s after their programme: in 15 and in 25 minutes.
    const Recording ended = value(m.schedule(
        request(provider.url(QStringLiteral("/slept.ts")).toString(), now().addSecs(-60), now().addSecs(600), "a")));
    const Recording going = value(m.schedule(
        request(provider.url(QStringLiteral("/due.ts")).toString(), now().addSecs(-60), now().addSecs(1200), "b")));
    ASSERT_EQ(m.runningCount(), 2);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return m.recording(going.id)->bytes > 0 && m.recording(ended.id)->bytes > 0; }));

    *slept = (25 * 60 - 2) * 1000;
    emit wakeNotifier.didWakeFromSleep();
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(ended.id) == Status::Finished; }, 1500ms));
    EXPECT_EQ(statusOf(going.id), Status::Recording) << "two seconds are left";
    const qint64 bytesAtWake = m.recording(going.id)->bytes;
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(going.id) == Status::Finished; }, 5s));
    const Recording finished = *m.recording(going.id);
    EXPECT_GT(finished.bytes, bytesAtWake) << "it went on into the same file";
    EXPECT_EQ(fileOf(going.id), FakeProvider::content(0, finished.bytes));
}

TEST_F(ManagerCaptureTest, AGapIsLoggedWhenDataComesAgainAndKeptInTheIndex)
{
    provider.serve(QStringLiteral("/a.ts"), {FakeProvider::Answer::stream(20000), FakeProvider::Answer::status(509)});
    // The recorder's clock moves on 14 s while the provider is full.
    auto offset = std::make_shared<std::atomic<qint64>>(0);
    RecordingManager &m = makeManager([offset](RecordingManager::Environment &environment) {
        environment.recorderTiming.now = [offset] { return QDateTime::currentDateTimeUtc().addMSecs(*offset); };
        environment.recorderTiming.providerFullRetryDelay = 50ms;
    });
    LogCapture log;
    const Recording r = value(m.schedule(onAir(QStringLiteral("/a.ts"))));
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(QStringLiteral("/a.ts")) >= 2; }));
    *offset = 14000;
    provider.serve(QStringLiteral("/a.ts"), FakeProvider::Answer::slowStream(1880, 10ms));
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(r.id)->bytes > 20000; }));
    const QStringList lines = log.all().filter(QStringLiteral("gap closed"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], QStringLiteral("[TivoluxRecorder] gap closed in Evening Film: 14 s without data"));

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
    // The same recording read back from the index keeps its counts.
    const auto decoded = sharedJSONDecoder().decodeRecordings(index.toUtf8());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->first().secondsMissing, 14);
}
