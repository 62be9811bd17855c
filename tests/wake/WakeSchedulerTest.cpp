#include "QtPrinters.h"
#include "FakeHelperConnection.h"
#include "FakeRegistration.h"
#include "LogCapture.h"
#include "ScheduledWakesSetting.h"
#include "TestSupport.h"
#include "WakeScheduler.h"

#include <QPointer>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Status = HelperRegistration::Status;
using testsupport::waitUntil;

// 2030-01-01 00:00:00 UTC, the fixed "now" of these tests.
constexpr qint64 kNow = 1893456000;
constexpr qint64 kDay = 86400;
const QString kCancel = QStringLiteral("cancel");
const QString kSchedule = QStringLiteral("schedule");

QSet<qint64> msecs(std::initializer_list<qint64> seconds)
{
    QSet<qint64> set;
    for (const qint64 s : seconds)
        set.insert(s * 1000);
    return set;
}

QDateTime at(double secondsAfterNow)
{
    return QDateTime::fromMSecsSinceEpoch(kNow * 1000 + qint64(secondsAfterNow * 1000), Qt::UTC);
}

// Wake scheduling on, fake helper connections, the stored list of "boot-1".
class WakeSchedulerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::clearSettings();
        registration->state = Status::Enabled;
    }
    void TearDown() override
    {
        scheduler.reset();
        testsupport::clearSettings();
    }

    WakeScheduler &makeScheduler()
    {
        scheduler.reset();
        const auto connect = [this](QObject *parent) -> WakeHelperConnection * {
            return helperAvailable ? (lastConnection = new FakeHelperConnection(helper, parent)).data() : nullptr;
        };
        scheduler = std::make_unique<WakeScheduler>(WakeScheduler::Environment{
            timing, registration, connect, [this] { return clock; }, [this] { return boot; }});
        QObject::connect(scheduler.get(), &WakeScheduler::wakeStateDidChange, [this] { ++notifications; });
        return *scheduler;
    }

    void store(std::initializer_list<qint64> seconds)
    {
        ScheduledWakesSetting::write(msecs(seconds), QStringLiteral("boot-1"));
    }

    QDateTime clock = QDateTime::fromSecsSinceEpoch(kNow, Qt::UTC);
    QString boot = QStringLiteral("boot-1");
    WakeScheduler::Timing timing;
    std::shared_ptr<FakeRegistration> registration = std::make_shared<FakeRegistration>();
    HelperCalls helper;
    bool helperAvailable = true;
    QPointer<FakeHelperConnection> lastConnection;
    std::unique_ptr<WakeScheduler> scheduler;
    int notifications = 0;
};

TEST_F(WakeSchedulerTest, WakesLieOneMinuteBeforeEachStartRoundedAndMoreThanThirtySecondsAheadWithinOneBoot)
{
    // Stored wakes that have passed are dropped without being cancelled.
    store({kNow - 5, kNow});
    WakeScheduler &wakes = makeScheduler();
    wakes.sync({at(90)}); // its wake would lie exactly 30 s ahead
    EXPECT_TRUE(helper.calls.isEmpty());
    EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty());

    // Equal starts collapse; wakes round to the nearest second.
    wakes.sync({at(91), at(100.5), at(100.5), at(200.4), at(300.6)});
    EXPECT_EQ(helper.seconds(kSchedule), (QList<qint64>{kNow + 31, kNow + 41, kNow + 140, kNow + 241}));
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 31, kNow + 41, kNow + 140, kNow + 241}));

    // After a reboot every wake is asked for again and none of the last
    // boot is cancelled; within the same boot nothing is sent twice.
    boot = QStringLiteral("boot-2");
    helper.calls.clear();
    makeScheduler().sync({at(91), at(300.6)});
    EXPECT_EQ(helper.seconds(kSchedule), (QList<qint64>{kNow + 31, kNow + 241}));
    EXPECT_TRUE(helper.seconds(kCancel).isEmpty());
    EXPECT_EQ(ScheduledWakesSetting::boot(), QStringLiteral("boot-2"));
    makeScheduler().sync({at(91), at(300.6)});
    EXPECT_EQ(helper.calls.size(), 2);
}

TEST_F(WakeSchedulerTest, OffLeavesTheStoredListAloneUnlessNothingIsScheduled)
{
    store({kNow - 100, kNow + 500});
    for (const Status state : {Status::NotRegistered, Status::RequiresApproval, Status::NotFound}) {
        registration->state = state;
        makeScheduler().sync({at(1000)});
        EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow - 100, kNow + 500}));
    }
    makeScheduler().sync({});
    EXPECT_EQ(helper.connectionsMade, 0);
    EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty());
}

TEST_F(WakeSchedulerTest, TurningOffCancelsFutureWakesAndUnregistersOnceTheHelperHasAnsweredOrAfterAWhile)
{
    timing.cancelAnswerWait = 20ms;
    store({kNow - 10, kNow + 100, kNow + 200, kNow + 300, kNow + 400});
    WakeScheduler &wakes = makeScheduler();
    QSet<qint64> storedAtUnregister{-1};
    int invalidationsAtUnregister = -1;
    registration->onUnregister = [&] {
        storedAtUnregister = ScheduledWakesSetting::read();
        invalidationsAtUnregister = helper.invalidations;
    };

    helper.deferAnswers = true;
    wakes.turnOff();
    EXPECT_EQ(helper.seconds(kCancel), (QList<qint64>{kNow + 100, kNow + 200, kNow + 300, kNow + 400}));
    EXPECT_TRUE(wakes.isChanging());
    EXPECT_EQ(registration->unregisterRequests, 0) << "the cancels have not been answered yet";
    EXPECT_EQ(helper.invalidations, 0) << "the connection still waits for the answers";
    wakes.sync({at(160), at(600)});
    EXPECT_TRUE(helper.seconds(kSchedule).isEmpty()) << "nothing new is armed";

    helper.answerAll();
    EXPECT_TRUE(storedAtUnregister.isEmpty());
    EXPECT_EQ(invalidationsAtUnregister, 1);
    EXPECT_EQ(registration->unregisterRequests, 1);
    EXPECT_EQ(notifications, 1);
    EXPECT_FALSE(wakes.isChanging());
    EXPECT_FALSE(wakes.isOn());

    // A helper that never answers its cancel holds the unregistering back
    // only for a while.
    registration->state = Status::Enabled;
    store({kNow + 100});
    helper.calls.clear();
    makeScheduler().turnOff();
    ASSERT_EQ(helper.seconds(kCancel), QList<qint64>{kNow + 100});
    EXPECT_TRUE(waitUntil([&] { return registration->unregisterRequests == 2; }));
    EXPECT_EQ(notifications, 2);
}

TEST_F(WakeSchedulerTest, RequestsWhileTheSystemIsAskedAreIgnoredAndEveryWaitForItsAnswerEnds)
{
    timing.systemAnswerWait = 40ms;
    registration->deferAnswers = true;
    registration->stateAfterRegister = Status::RequiresApproval;
    registration->registerFailure = QStringLiteral("Access denied");
    WakeScheduler &wakes = makeScheduler();

    registration->state = Status::NotRegistered;
    wakes.turnOn();
    EXPECT_TRUE(wakes.isChanging());
    EXPECT_FALSE(wakes.isOn()); // read before the system answered
    wakes.turnOn();
    wakes.turnOff();
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(registration->unregisterRequests, 0);
    EXPECT_EQ(notifications, 0);

    // A pending approval is no failure.
    registration->answerPending();
    EXPECT_FALSE(wakes.isChanging());
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(wakes.lastError(), std::nullopt);
    EXPECT_EQ(registration->settingsOpened, 1);

    // A system that never answers ends in the failure; its late answer
    // changes nothing more.
    const QString late = QStringLiteral("The system did not answer in time.");
    registration->state = Status::NotRegistered;
    wakes.turnOn();
    ASSERT_TRUE(waitUntil([&] { return !wakes.isChanging(); }));
    EXPECT_EQ(wakes.lastError(), late);
    registration->answerPending();
    EXPECT_EQ(wakes.lastError(), late);
    EXPECT_EQ(notifications, 2);
}

TEST_F(WakeSchedulerTest, OnlyArmedWakesAreStoredAndThoseOutOfReachAreAskedForOnceInReach)
{
    timing.mostWakes = 3;
    timing.recheckPeriod = 10ms;
    helper.accepts = [](qint64 seconds) { return seconds != kNow + 7140; };
    WakeScheduler &wakes = makeScheduler();
    LogCapture log;

    // 40 days ahead is beyond what the helper takes.
    const QList<QDateTime> starts{at(40 * kDay + 60), at(3600), at(7200)};
    wakes.sync(starts);
    wakes.sync(starts);
    EXPECT_EQ(helper.seconds(kSchedule), (QList<qint64>{kNow + 3540, kNow + 7140}));
    EXPECT_EQ(log.all(),
              QStringList{QStringLiteral("[TivoluxRecorder] helper refused wake at 2030-01-01 01:59:00 +0000")});
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 3540})) << "the refused wake is not held";

    // The refused wake is asked for again at the next recheck.
    ASSERT_TRUE(waitUntil([&] { return helper.calls.size() >= 3; }));
    EXPECT_EQ(helper.calls.at(2), (HelperCalls::Call{kSchedule, kNow + 7140}));

    // Eleven days later the far wake is within reach, and is asked for
    // without any change of the recordings.
    clock = clock.addDays(11);
    ASSERT_TRUE(waitUntil([&] { return helper.calls.contains({kSchedule, kNow + 40 * kDay}); }));
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 40 * kDay}));

    // Of many recordings only the nearest few are held.
    helper.calls.clear();
    const qint64 later = kNow + 11 * kDay;
    wakes.sync({at(11 * kDay + 3600), at(11 * kDay + 7200), at(11 * kDay + 10800), at(11 * kDay + 14400),
                at(40 * kDay + 60)});
    EXPECT_EQ(helper.seconds(kSchedule), (QList<qint64>{later + 3540, later + 7140, later + 10740}));
    EXPECT_EQ(helper.seconds(kCancel), QList<qint64>{kNow + 40 * kDay});
}

TEST_F(WakeSchedulerTest, WakesNotArmedForWantOfAHelperAreAskedForAgain)
{
    store({kNow + 540});
    helperAvailable = false;
    WakeScheduler &wakes = makeScheduler();
    LogCapture log;

    // No connection at all: the stored list empties.
    wakes.sync({at(600), at(1200)});
    EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty());

    // A helper that cannot be reached: one log line per message.
    helperAvailable = true;
    helper.unreachable = true;
    wakes.sync({at(600), at(1200)});
    EXPECT_EQ(log.all(), QStringList(2, QStringLiteral("[TivoluxRecorder] wake helper unavailable: no helper here")));
    EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty()) << "no wake was armed";

    // Once the broken connection is gone, a fresh one asks again.
    ASSERT_TRUE(lastConnection);
    lastConnection->breakDown();
    testsupport::spin(20ms);
    helper.unreachable = false;
    wakes.sync({at(600), at(1200)});
    EXPECT_EQ(helper.connectionsMade, 2);
    EXPECT_EQ(helper.seconds(kSchedule), (QList<qint64>{kNow + 540, kNow + 540, kNow + 1140, kNow + 1140}));
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 540, kNow + 1140}));
}

// The settings file keeps no types: a list comes back as texts, a
// one-element list as a single text.
TEST(ScheduledWakesSettingTest, ReadsNumbersAndTheirTextualFormAndNothingElse)
{
    testsupport::clearSettings();
    const auto read = [](const QVariant &value) {
        QSettings().setValue(QLatin1String(ScheduledWakesSetting::kKey), value);
        return ScheduledWakesSetting::read();
    };
    EXPECT_EQ(read(QVariantList{1893456031.0, 1893456100}), (QSet<qint64>{1893456031000, 1893456100000}));
    EXPECT_EQ(read(QStringList{QStringLiteral("1893456031"), QStringLiteral(" 1893456100.5")}),
              (QSet<qint64>{1893456031000, 1893456100500}));
    EXPECT_EQ(read(QStringLiteral("1893456031")), (QSet<qint64>{1893456031000}));
    // Any element that is not a number means the empty set.
    for (const QVariant &value : {QVariant(QVariantList{1893456031.0, true}),
                                  QVariant(QStringList{QStringLiteral("1893456031"), QString()}),
                                  QVariant(QVariantList{1e300})})
        EXPECT_TRUE(read(value).isEmpty()) << value.toString().toStdString();
    testsupport::clearSettings();
}

} // namespace
