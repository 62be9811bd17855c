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

using Status = HelperRegistration::Status;

// 2030-01-01 00:00:00 UTC, the fixed "now" of these tests.
constexpr qint64 kNow = 1893456000;
constexpr qint64 kDay = 86400;
const QString kBoot = QStringLiteral("boot-1");

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

class WakeSchedulerTest : public ::testing::Test
{
protected:
    void SetUp() override { testsupport::clearSettings(); }
    void TearDown() override
    {
        scheduler.reset();
        testsupport::clearSettings();
    }

    WakeScheduler &makeScheduler()
    {
        scheduler.reset();
        WakeScheduler::Environment environment;
        environment.registration = registration;
        environment.connectToHelper = [this](QObject *parent) -> WakeHelperConnection * {
            if (!helperAvailable)
                return nullptr;
            auto *connection = new FakeHelperConnection(helper, parent);
            lastConnection = connection;
            return connection;
        };
        environment.now = [this] { return clock; };
        environment.bootID = [this] { return boot; };
        environment.timing = timing;
        scheduler = std::make_unique<WakeScheduler>(std::move(environment));
        QObject::connect(scheduler.get(), &WakeScheduler::wakeStateDidChange, [this] { ++notifications; });
        return *scheduler;
    }

    void store(const QSet<qint64> &wakes) { ScheduledWakesSetting::write(wakes, kBoot); }

    QDateTime clock = QDateTime::fromSecsSinceEpoch(kNow, Qt::UTC);
    QString boot = kBoot;
    WakeScheduler::Timing timing;
    std::shared_ptr<FakeRegistration> registration = std::make_shared<FakeRegistration>();
    HelperCalls helper;
    bool helperAvailable = true;
    QPointer<FakeHelperConnection> lastConnection;
    std::unique_ptr<WakeScheduler> scheduler;
    int notifications = 0;
};

TEST_F(WakeSchedulerTest, WakesLieOneMinuteBeforeEachStartRoundedAndMoreThanThirtySecondsAhead)
{
    registration->state = Status::Enabled;
    // Stored wakes that have passed are dropped without being cancelled.
    store(msecs({kNow - 5, kNow}));
    WakeScheduler &wakes = makeScheduler();

    wakes.sync({at(90)}); // its wake would lie exactly 30 s ahead
    EXPECT_TRUE(helper.calls.isEmpty());
    EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty());

    // Equal starts collapse; wakes round to the nearest second.
    wakes.sync({at(91), at(100.5), at(100.5), at(200.4), at(300.6)});
    EXPECT_EQ(helper.seconds(QStringLiteral("schedule")), (QList<qint64>{kNow + 31, kNow + 41, kNow + 140, kNow + 241}));
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 31, kNow + 41, kNow + 140, kNow + 241}));
}

TEST_F(WakeSchedulerTest, OffLeavesTheStoredListAloneUnlessNothingIsScheduled)
{
    store(msecs({kNow - 100, kNow + 500}));
    for (const Status state : {Status::NotRegistered, Status::RequiresApproval, Status::NotFound}) {
        registration->state = state;
        makeScheduler().sync({at(1000)});
        EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow - 100, kNow + 500}));
    }

    // Without scheduled recordings the list empties, silently.
    makeScheduler().sync({});
    EXPECT_EQ(helper.connectionsMade, 0);
    EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty());
}

TEST_F(WakeSchedulerTest, TurningOffCancelsFutureWakesAndUnregistersOnceTheHelperHasAnswered)
{
    registration->state = Status::Enabled;
    store(msecs({kNow - 10, kNow + 100, kNow + 200, kNow + 300, kNow + 400}));
    WakeScheduler &wakes = makeScheduler();

    QSet<qint64> storedAtUnregister{-1};
    int invalidationsAtUnregister = -1;
    registration->onUnregister = [&] {
        storedAtUnregister = ScheduledWakesSetting::read();
        invalidationsAtUnregister = helper.invalidations;
    };

    helper.deferAnswers = true;
    wakes.turnOff();
    const QList<qint64> cancelled{kNow + 100, kNow + 200, kNow + 300, kNow + 400};
    EXPECT_EQ(helper.seconds(QStringLiteral("cancel")), cancelled);
    EXPECT_TRUE(wakes.isChanging());
    EXPECT_EQ(registration->unregisterRequests, 0) << "the cancels have not been answered yet";
    EXPECT_EQ(helper.invalidations, 0) << "the connection still waits for the answers";
    wakes.sync({at(160), at(600)});
    EXPECT_TRUE(helper.seconds(QStringLiteral("schedule")).isEmpty()) << "nothing new is armed";

    helper.answerAll();
    EXPECT_TRUE(storedAtUnregister.isEmpty());
    EXPECT_EQ(invalidationsAtUnregister, 1);
    EXPECT_EQ(registration->unregisterRequests, 1);
    EXPECT_EQ(notifications, 1);
    EXPECT_FALSE(wakes.isChanging());
    EXPECT_FALSE(wakes.isOn());
}

TEST_F(WakeSchedulerTest, EveryWaitOfTurningOnOrOffEnds)
{
    timing.cancelAnswerWait = std::chrono::milliseconds(20);
    timing.systemAnswerWait = std::chrono::milliseconds(40);
    registration->state = Status::Enabled;
    store(msecs({kNow + 100}));
    WakeScheduler &wakes = makeScheduler();

    // A helper that never answers its cancel holds the unregistering back
    // only for a while.
    helper.deferAnswers = true;
    wakes.turnOff();
    ASSERT_EQ(helper.seconds(QStringLiteral("cancel")), QList<qint64>{kNow + 100});
    EXPECT_TRUE(testsupport::waitUntil([&] { return registration->unregisterRequests == 1; }));
    EXPECT_EQ(notifications, 1);

    // A system that never answers the registration ends in the failure.
    registration->deferAnswers = true;
    wakes.turnOn();
    EXPECT_TRUE(wakes.isChanging());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !wakes.isChanging(); }));
    EXPECT_EQ(wakes.lastError(), QStringLiteral("The system did not answer in time."));
    EXPECT_EQ(notifications, 2);
    // Its late answer changes nothing more.
    registration->answerPending();
    EXPECT_EQ(notifications, 2);
    EXPECT_EQ(wakes.lastError(), QStringLiteral("The system did not answer in time."));
}

TEST_F(WakeSchedulerTest, OnlyArmedWakesAreStoredAndThoseOutOfReachAreAskedForOnceInReach)
{
    timing.mostWakes = 3;
    timing.recheckPeriod = std::chrono::milliseconds(10);
    registration->state = Status::Enabled;
    helper.accepts = [](qint64 seconds) { return seconds != kNow + 7140; };
    WakeScheduler &wakes = makeScheduler();
    LogCapture log;

    // 40 days ahead is beyond what the helper takes.
    const QList<QDateTime> starts{at(40 * kDay + 60), at(3600), at(7200)};
    wakes.sync(starts);
    wakes.sync(starts);
    EXPECT_EQ(helper.seconds(QStringLiteral("schedule")), (QList<qint64>{kNow + 3540, kNow + 7140}));
    EXPECT_EQ(log.all(),
              QStringList{QStringLiteral("[TivoluxRecorder] helper refused wake at 2030-01-01 01:59:00 +0000")});
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 3540})) << "the refused wake is not held";

    // The refused wake is asked for again at the next recheck.
    ASSERT_TRUE(testsupport::waitUntil([&] { return helper.calls.size() >= 3; }));
    EXPECT_EQ(helper.calls.at(2), (HelperCalls::Call{QStringLiteral("schedule"), kNow + 7140}));

    // Eleven days later the far wake is within reach, and is asked for
    // without any change of the recordings.
    clock = clock.addDays(11);
    const HelperCalls::Call far{QStringLiteral("schedule"), kNow + 40 * kDay};
    ASSERT_TRUE(testsupport::waitUntil([&] { return helper.calls.contains(far); }));
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 40 * kDay}));

    // Of many recordings only the nearest few are held.
    helper.calls.clear();
    const qint64 later = kNow + 11 * kDay;
    wakes.sync({at(11 * kDay + 3600), at(11 * kDay + 7200), at(11 * kDay + 10800), at(11 * kDay + 14400),
                at(40 * kDay + 60)});
    EXPECT_EQ(helper.seconds(QStringLiteral("schedule")), (QList<qint64>{later + 3540, later + 7140, later + 10740}));
    EXPECT_EQ(helper.seconds(QStringLiteral("cancel")), QList<qint64>{kNow + 40 * kDay});
}

TEST_F(WakeSchedulerTest, AfterARebootEveryWakeIsAskedForAgain)
{
    registration->state = Status::Enabled;
    store(msecs({kNow + 540, kNow + 1140}));
    boot = QStringLiteral("boot-2");
    WakeScheduler &wakes = makeScheduler();

    wakes.sync({at(600), at(1200)});
    EXPECT_EQ(helper.seconds(QStringLiteral("schedule")), (QList<qint64>{kNow + 540, kNow + 1140}));
    EXPECT_TRUE(helper.seconds(QStringLiteral("cancel")).isEmpty()) << "wakes of the last boot are gone";
    EXPECT_EQ(ScheduledWakesSetting::boot(), QStringLiteral("boot-2"));

    // Within the same boot nothing is sent twice.
    makeScheduler().sync({at(600), at(1200)});
    EXPECT_EQ(helper.calls.size(), 2);
}

TEST_F(WakeSchedulerTest, WakesNotArmedForWantOfAHelperAreAskedForAgain)
{
    registration->state = Status::Enabled;
    store(msecs({kNow + 540}));
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
    testsupport::spin(std::chrono::milliseconds(20));
    helper.unreachable = false;
    wakes.sync({at(600), at(1200)});
    EXPECT_EQ(helper.connectionsMade, 2);
    EXPECT_EQ(helper.seconds(QStringLiteral("schedule")),
              (QList<qint64>{kNow + 540, kNow + 540, kNow + 1140, kNow + 1140}));
    EXPECT_EQ(ScheduledWakesSetting::read(), msecs({kNow + 540, kNow + 1140}));
}

TEST_F(WakeSchedulerTest, RequestsWhileTheSystemIsAskedAreIgnoredAndAPendingApprovalIsNoFailure)
{
    registration->deferAnswers = true;
    registration->stateAfterRegister = Status::RequiresApproval;
    registration->registerFailure = QStringLiteral("Access denied");
    WakeScheduler &wakes = makeScheduler();

    wakes.turnOn();
    EXPECT_TRUE(wakes.isChanging());
    EXPECT_FALSE(wakes.isOn()); // read before the system answered
    wakes.turnOn();
    wakes.turnOff();
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(registration->unregisterRequests, 0);
    EXPECT_EQ(notifications, 0);

    registration->answerPending();
    EXPECT_FALSE(wakes.isChanging());
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(wakes.lastError(), std::nullopt);
    EXPECT_EQ(registration->settingsOpened, 1);

    registration->deferAnswers = false;
    registration->stateAfterRegister = Status::Enabled;
    registration->registerFailure.reset();
    wakes.turnOn();
    EXPECT_EQ(wakes.lastError(), std::nullopt);
    EXPECT_TRUE(wakes.isOn());
    EXPECT_EQ(notifications, 2);
}

TEST(ScheduledWakesSettingTest, ReadsNumbersAndTheirTextualFormAndNothingElse)
{
    testsupport::clearSettings();
    const auto read = [](const QVariant &value) {
        QSettings().setValue(QLatin1String(ScheduledWakesSetting::kKey), value);
        return ScheduledWakesSetting::read();
    };
    EXPECT_EQ(read(QVariantList{1893456031.0, 1893456100}), (QSet<qint64>{1893456031000, 1893456100000}));
    // The settings file keeps no types: a list comes back as texts, a
    // one-element list as a single text.
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
