#include "FakeProvider.h"
#include "ManagerTestSupport.h"
#include "ProviderConnections.h"

#include <QFileInfo>

// The manager's provider check: asynchronous, re-read on resume, counting
// its own recent starts on the account.
namespace {

using Status = Recording::Status;
using namespace std::chrono_literals;

const QString kAPI = QStringLiteral("/player_api.php");

FakeProvider::Answer accountAnswer(int active, int maximum)
{
    return FakeProvider::Answer::body(
        QStringLiteral(R"({"user_info":{"active_cons":%1,"max_connections":%2}})").arg(active).arg(maximum).toUtf8(),
        "application/json");
}

class ProviderWaitTest : public ManagerTest
{
protected:
    void SetUp() override
    {
        ManagerTest::SetUp();
        for (const char *path : {"/live/u/p/1.ts", "/live/u/p/2.ts"})
            provider.serve(QString::fromLatin1(path), FakeProvider::Answer::slowStream(512, 10ms));
    }

    // A manager whose account query gives up after 300 ms and whose recent
    // starts count for 300 ms.
    RecordingManager &makeWaitingManager()
    {
        return makeManager([](RecordingManager::Environment &environment) {
            environment.provider = std::make_shared<ProviderConnections>(ProviderConnections::Timing{300ms});
            environment.timing.recentStartWindow = 300ms;
        });
    }

    RecordingRequest onAir(const char *path, const QString &channel = QStringLiteral("ch1")) const
    {
        return request(provider.url(QString::fromLatin1(path)).toString(), now().addSecs(-60), now().addSecs(3600), channel);
    }

    Status statusOf(const QUuid &id) const
    {
        const auto r = manager->recording(id);
        return r ? r->status : Status::Scheduled;
    }

    FakeProvider provider;
};

} // namespace

TEST_F(ProviderWaitTest, WaitingIsSavedOnceAndLoggedPerFullAnswer)
{
    provider.serve(kAPI, accountAnswer(2, 2));
    RecordingManager &m = makeWaitingManager();
    const Recording r = value(m.schedule(onAir("/live/u/p/1.ts")));
    EXPECT_EQ(r.status, Status::Scheduled) << "the check answers later";
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(r.id) == Status::Waiting; }));
    EXPECT_TRUE(indexText().contains(QLatin1String("\"waiting\"")));
    EXPECT_EQ(inhibitor->live, 1) << "a waiting recording keeps the computer awake";
    const QDateTime written = QFileInfo(indexPath()).lastModified();

    const int asked = provider.requestCount(kAPI);
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(kAPI) >= asked + 2; }));
    testsupport::spin(50ms);
    EXPECT_EQ(QFileInfo(indexPath()).lastModified(), written)
        << "a recording already waiting is not saved again";
    EXPECT_EQ(provider.requestCount(QStringLiteral("/live/u/p/1.ts")), 0);
    m.stop(r.id);
    EXPECT_FALSE(m.recording(r.id)) << "a waiting recording is withdrawn";
}

TEST_F(ProviderWaitTest, StoppedOrDeletedDuringTheCheckIsNeverStarted)
{
    provider.serve(kAPI, FakeProvider::Answer::silence());
    RecordingManager &m = makeWaitingManager();
    const Recording stopped = value(m.schedule(onAir("/live/u/p/1.ts")));
    const Recording deleted = value(m.schedule(onAir("/live/u/p/2.ts", QStringLiteral("ch2"))));
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(kAPI) == 2; }));
    m.stop(stopped.id);
    m.deleteRecording(deleted.id);
    testsupport::spin(600ms);
    EXPECT_TRUE(m.recordings().isEmpty());
    EXPECT_EQ(m.runningCount(), 0);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/live/u/p/1.ts")), 0);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/live/u/p/2.ts")), 0);
}

// An unanswered query goes ahead, with the end extended meanwhile.
TEST_F(ProviderWaitTest, ExtensionDuringTheCheckIsHonoured)
{
    provider.serve(kAPI, FakeProvider::Answer::silence());
    const Recording stored = due(provider.url(QStringLiteral("/live/u/p/1.ts")).toString(), QStringLiteral("a.ts"), 2s);
    const QUuid id = stored.id;
    storeIndex({stored});
    RecordingManager &m = makeWaitingManager();
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(kAPI) == 1; }));
    const Recording extended = value(m.extend(id, 1));
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(id) == Status::Recording; }));
    testsupport::spin(2500ms);
    EXPECT_EQ(statusOf(id), Status::Recording) << "the recorder got the extended end";
    EXPECT_EQ(m.recording(id)->endDate, extended.endDate);
    m.stop(id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(id) == Status::Stopped; }));
}

TEST_F(ProviderWaitTest, RecentStartsCountOnlyInsideTheirWindow)
{
    provider.serve(kAPI, accountAnswer(0, 1));
    RecordingManager &m = makeWaitingManager();
    const Recording first = value(m.schedule(onAir("/live/u/p/1.ts")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(first.id) == Status::Recording; }));

    // Inside the window the start counts on top of the provider's figure.
    const Recording blocked = value(m.schedule(onAir("/live/u/p/2.ts", QStringLiteral("ch2"))));
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(blocked.id) == Status::Waiting; }));

    // Once the window has passed it no longer does.
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(blocked.id) == Status::Recording; }));
}
