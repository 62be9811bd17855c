#include "FakeSystemBus.h"
#include "LogindSleepInhibitor.h"
#include "LogindWakeNotifier.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using State = SleepActivity::State;

// The sleep hold and the wake notice against a stand-in logind on a bus of
// the test's own.
class LogindTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        logind = std::make_unique<FakeSystemBus>();
        if (logind->address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(kClient);
        logind.reset();
    }

    QDBusConnection client() const { return QDBusConnection::connectToBus(logind->address(), kClient); }

    // Begins a hold; counts how often it settled, and whether within begin().
    std::unique_ptr<SleepActivity> begin(LogindSleepInhibitor &inhibitor)
    {
        inBegin = true;
        auto activity = inhibitor.begin(QStringLiteral("Recording"), [this] {
            settledInBegin = settledInBegin || inBegin;
            ++settled;
        });
        inBegin = false;
        return activity;
    }

    const QString kClient = QStringLiteral("logind-client");
    std::unique_ptr<FakeSystemBus> logind;
    int settled = 0;
    bool inBegin = false;
    bool settledInBegin = false;
};

TEST_F(LogindTest, AGrantedLockIsHeldUntilTheActivityEndsAndWithoutABusTheHoldFails)
{
    LogindSleepInhibitor inhibitor(client());
    auto activity = begin(inhibitor);
    EXPECT_EQ(activity->state(), State::Pending);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 1; }));
    EXPECT_EQ(activity->state(), State::Held);
    EXPECT_TRUE(logind->lockHeld());
    activity.reset();
    EXPECT_FALSE(logind->lockHeld());

    // Without a bus the hold fails soon after begin().
    const QString name = QStringLiteral("logind-no-bus");
    LogindSleepInhibitor busless(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), name));
    auto failed = begin(busless);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 2; }, 1s));
    EXPECT_EQ(failed->state(), State::Failed);
    EXPECT_FALSE(settledInBegin);
    QDBusConnection::disconnectFromBus(name);
}

TEST_F(LogindTest, ARefusalOrSilenceFailsWithoutHoldingTheCallerUp)
{
    logind->answerInhibitWith(FakeSystemBus::Inhibit::Refuse);
    LogindSleepInhibitor patient(client());
    auto refused = begin(patient);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 1; }));
    EXPECT_EQ(refused->state(), State::Failed);
    EXPECT_EQ(refused->failure(), QStringLiteral("Permission denied"));

    // A logind that never answers: begin() returns at once (still pending),
    // the hold fails once the wait is over.
    logind->answerInhibitWith(FakeSystemBus::Inhibit::Silence);
    LogindSleepInhibitor hasty(client(), 100ms);
    auto silent = begin(hasty);
    EXPECT_EQ(silent->state(), State::Pending);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 2; }));
    EXPECT_EQ(silent->state(), State::Failed);
    EXPECT_FALSE(silent->failure().isEmpty());
    EXPECT_EQ(logind->inhibitCalls(), 2);
    EXPECT_FALSE(settledInBegin);
}

TEST_F(LogindTest, OnlyTheEndOfASleepIsAWake)
{
    LogindWakeNotifier notifier(client());
    QSignalSpy woke(&notifier, &SystemWakeNotifier::didWakeFromSleep);
    testsupport::spin(100ms); // the match rule reaches the bus
    logind->sendPrepareForSleep(true);
    logind->sendPrepareForSleep(false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return woke.count() >= 1; }));
    testsupport::spin(50ms);
    EXPECT_EQ(woke.count(), 1);
}

} // namespace
