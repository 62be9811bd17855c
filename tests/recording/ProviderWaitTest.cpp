#include "ManagerTestSupport.h"
#include "ProviderConnections.h"

// The manager's provider check: asynchronous, asked again at each schedule
// check while it waits, counting its own recent starts on the account.
const QString kAPI = QStringLiteral("/player_api.php");

class ProviderWaitTest : public ManagerCaptureTest
{
protected:
    // Three streams and a manager whose account query gives up after 100 ms;
    // recent starts count for the real 20 s on the test's clock.
    RecordingManager &makeWaitingManager()
    {
        for (const char *path : {"/live/u/p/1.ts", "/live/u/p/2.ts", "/live/u/p/3.ts"})
            provider.serve(QString::fromLatin1(path), FakeProvider::Answer::slowStream(512, 10ms));
        return makeManager([](RecordingManager::Environment &e) {
            e.provider = std::make_shared<ProviderConnections>(ProviderConnections::Timing{100ms});
        });
    }

    // Drops the recorder's connection once data flows and waits until it asked
    // again, which it does only while its end date lies ahead, or ended.
    void dropConnectionAndWait(const QString &path, const QUuid &id)
    {
        const qint64 bytes = manager->recording(id)->bytes;
        ASSERT_TRUE(testsupport::waitUntil([&] { return manager->recording(id)->bytes > bytes; }));
        const int asked = provider.requestCount(path);
        provider.closeConnections();
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return provider.requestCount(path) > asked || statusOf(id) != Status::Recording; }));
    }
};

TEST_F(ProviderWaitTest, RecentStartsCountInTheirWindowAndWaitingIsSavedOnceAndLoggedPerFullAnswer)
{
    provider.serve(kAPI, FakeProvider::Answer::body(R"({"user_info":{"active_cons":0,"max_connections":1}})",
                                                    "application/json"));
    RecordingManager &m = makeWaitingManager();
    LogCapture log;
    const auto waits = [&] { return log.all().filter(QStringLiteral("connections in use")); };
    const QString line = QStringLiteral("[TivoluxRecorder] provider 1/1 connections in use, Evening Film waits");
    const Recording first = value(m.schedule(onAir(url("/live/u/p/1.ts"))));
    EXPECT_EQ(first.status, Status::Scheduled) << "the check answers later";
    ASSERT_TRUE(waitFor(first.id, Status::Recording));
    m.stop(first.id);

    // Inside the window its start counts on top of the provider's figure.
    const Recording r = value(m.schedule(onAir(url("/live/u/p/2.ts"), QStringLiteral("ch2"))));
    ASSERT_TRUE(waitFor(r.id, Status::Waiting));
    EXPECT_TRUE(indexText().contains(QLatin1String("\"waiting\"")));
    EXPECT_EQ(inhibitor->live, 1) << "a waiting recording keeps the computer awake";
    EXPECT_EQ(waits(), QStringList{line});
    ASSERT_TRUE(QFile::remove(indexPath()));
    advance(19s);
    m.checkSchedule();
    ASSERT_TRUE(testsupport::waitUntil([&] { return waits() == QStringList{line, line}; }));
    EXPECT_FALSE(QFile::exists(indexPath())) << "a recording already waiting is not saved again";
    EXPECT_EQ(provider.requestCount(QStringLiteral("/live/u/p/2.ts")), 0);
    m.stop(r.id);
    EXPECT_FALSE(m.recording(r.id)) << "a waiting recording is withdrawn";

    // Once the window has passed it no longer does.
    advance(2s);
    const Recording later = value(m.schedule(onAir(url("/live/u/p/3.ts"), QStringLiteral("ch3"))));
    ASSERT_TRUE(waitFor(later.id, Status::Recording));
}

TEST_F(ProviderWaitTest, StoppedOrDeletedDuringTheCheckIsNeverStartedAndUnansweredChecksGoAhead)
{
    provider.serve(kAPI, FakeProvider::Answer::silence());
    RecordingManager &m = makeWaitingManager();
    const Recording stopped = value(m.schedule(onAir(url("/live/u/p/1.ts"))));
    const Recording deleted = value(m.schedule(onAir(url("/live/u/p/2.ts"), QStringLiteral("ch2"))));
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(kAPI) == 2; }));
    m.stop(stopped.id);
    m.deleteRecording(deleted.id);
    // A later check gives up after the others and goes ahead.
    const Recording witness = value(m.schedule(onAir(url("/live/u/p/3.ts"), QStringLiteral("ch3"))));
    ASSERT_TRUE(waitFor(witness.id, Status::Recording));
    EXPECT_EQ(m.recordings(), QList<Recording>{*m.recording(witness.id)});
    EXPECT_EQ(m.runningCount(), 1);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/live/u/p/1.ts")), 0);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/live/u/p/2.ts")), 0);
}

// An extension made while the provider check is pending and one made while
// recording both reach the recorder: past the planned end, and past the first
// extended end, a dropped connection is taken up again; past the last, not.
TEST_F(ProviderWaitTest, ExtensionsDuringTheCheckAndWhileRecordingReachTheRecorder)
{
    provider.serve(kAPI, FakeProvider::Answer::silence());
    const QString stream = QStringLiteral("/live/u/p/1.ts");
    const Recording stored = due(provider.url(stream).toString(), QStringLiteral("a.ts"), 2s);
    storeIndex({stored});
    RecordingManager &m = makeWaitingManager();
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(kAPI) == 1; }));
    const Recording extended = value(m.extend(stored.id, 1));
    EXPECT_EQ(extended.endDate, stored.endDate.addSecs(60));
    ASSERT_TRUE(waitFor(stored.id, Status::Recording));
    EXPECT_EQ(m.recording(stored.id)->endDate, extended.endDate);

    advance(30s);
    dropConnectionAndWait(stream, stored.id);
    EXPECT_EQ(statusOf(stored.id), Status::Recording) << "the recorder got the end extended during the check";
    EXPECT_EQ(value(m.extend(stored.id, 1)).endDate, stored.endDate.addSecs(120));
    advance(60s);
    dropConnectionAndWait(stream, stored.id);
    EXPECT_EQ(statusOf(stored.id), Status::Recording) << "the running recorder follows the new end";
    advance(40s);
    dropConnectionAndWait(stream, stored.id);
    ASSERT_TRUE(waitFor(stored.id, Status::Finished));
}
