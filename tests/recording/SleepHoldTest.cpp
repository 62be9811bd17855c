#include "FakeHelperConnection.h"
#include "FakeRegistration.h"
#include "LogCapture.h"
#include "ManagerTestSupport.h"
#include "WakeScheduler.h"

#include <QSignalSpy>

// Whether the manager keeps the computer awake with wake scheduling on: a
// scheduled recording holds the computer only from shortly before its start,
// since the computer will be woken for it. (With it off, see
// ManagerTest.SleepHoldFollowsScheduledRecordings.) And what happens when
// the system does not grant the hold.
namespace {

using namespace std::chrono_literals;

class SleepHoldTest : public ManagerTest
{
protected:
    // The real look-ahead of 3 minutes, on the test's clock.
    RecordingManager &makeManagerWithWakeOn()
    {
        registration->state = HelperRegistration::Status::Enabled;
        WakeScheduler::Environment wake;
        wake.registration = registration;
        wake.connectToHelper = [this](QObject *parent) -> WakeHelperConnection * {
            return new FakeHelperConnection(helperCalls, parent);
        };
        wake.now = clock.function();
        wakeScheduler = std::make_unique<WakeScheduler>(std::move(wake));
        return makeManager([this](RecordingManager::Environment &environment) {
            environment.wakeScheduler = wakeScheduler.get();
        });
    }

    RecordingRequest startingIn(std::chrono::milliseconds delay, const QString &channel)
    {
        const QDateTime start = now().addMSecs(delay.count());
        return request(QStringLiteral("http://127.0.0.1:1/s.ts"), start, start.addSecs(3600), channel);
    }

    std::shared_ptr<FakeRegistration> registration = std::make_shared<FakeRegistration>();
    HelperCalls helperCalls;
    std::unique_ptr<WakeScheduler> wakeScheduler;
};

} // namespace

TEST_F(SleepHoldTest, WithWakeOnOnlyRecordingsInsideTheLookAheadHold)
{
    RecordingManager &m = makeManagerWithWakeOn();
    const Recording far = value(m.schedule(startingIn(10min, QStringLiteral("far"))));
    EXPECT_EQ(inhibitor->live, 0) << "the computer will be woken for it";
    EXPECT_EQ(helperCalls.seconds(QStringLiteral("schedule")), QList<qint64>{far.startDate.toSecsSinceEpoch() - 60})
        << "a wake was placed instead";

    // A recording due within the look-ahead holds at once...
    const Recording near = value(m.schedule(startingIn(2min, QStringLiteral("near"))));
    EXPECT_EQ(inhibitor->live, 1);
    m.stop(near.id);
    m.checkSchedule();
    EXPECT_EQ(inhibitor->live, 0);

    // ...and one further ahead starts holding once it comes within it.
    value(m.schedule(startingIn(4min, QStringLiteral("later"))));
    EXPECT_EQ(inhibitor->live, 0);
    clock.advance(59s);
    m.checkSchedule();
    EXPECT_EQ(inhibitor->live, 0);
    clock.advance(1s);
    m.checkSchedule();
    EXPECT_EQ(inhibitor->live, 1);
    EXPECT_EQ(inhibitor->begun, 2);
    EXPECT_EQ(m.recording(far.id)->status, Recording::Status::Scheduled);
}

TEST_F(SleepHoldTest, AFailedHoldIsAskedForAgainAtEveryCheckAndLoggedOnceEachWay)
{
    inhibitor->failure = QStringLiteral("logind is not there");
    // Here the schedule timer runs the checks.
    RecordingManager &m = makeManager([](RecordingManager::Environment &environment) {
        environment.timing.schedulePeriod = 10ms;
    });
    QSignalSpy holdChanges(&m, &RecordingManager::sleepHoldDidChange);
    LogCapture log;
    value(m.schedule(startingIn(1h, QStringLiteral("later"))));

    ASSERT_TRUE(testsupport::waitUntil([&] { return inhibitor->begun >= 3; })) << "asked again at each check";
    EXPECT_FALSE(m.isHoldingSleep());
    EXPECT_EQ(m.sleepHoldFailure(), QStringLiteral("logind is not there"));
    EXPECT_GE(holdChanges.count(), 2);

    inhibitor->failure.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.isHoldingSleep(); }));
    EXPECT_EQ(m.sleepHoldFailure(), std::nullopt);
    const int begun = inhibitor->begun;
    const int changes = int(holdChanges.count());
    m.checkSchedule();
    m.checkSchedule();
    EXPECT_EQ(inhibitor->begun, begun) << "a hold in place is kept";
    EXPECT_EQ(holdChanges.count(), changes);
    EXPECT_EQ(log.all().filter(QStringLiteral("awake")),
              (QStringList{QStringLiteral("[TivoluxRecorder] cannot keep the computer awake: logind is not there"),
                           QStringLiteral("[TivoluxRecorder] the computer is kept awake again")}));
}
