#include "FakeHelperConnection.h"
#include "FakeRegistration.h"
#include "ManagerTestSupport.h"
#include "WakeScheduler.h"

TEST_F(ManagerTest, WithWakeOnOnlyRecordingsInsideTheLookAheadHold)
{
    HelperCalls helperCalls;
    auto registration = std::make_shared<FakeRegistration>();
    registration->state = HelperRegistration::Status::Enabled;
    WakeScheduler scheduler({{}, registration, [&](QObject *parent) -> WakeHelperConnection * {
                                 return new FakeHelperConnection(helperCalls, parent);
                             }, clock(), {}});
    // Only recordings within the real look-ahead of 3 minutes hold: the computer is woken for the others.
    RecordingManager &m = makeManager([&](RecordingManager::Environment &e) { e.wakeScheduler = &scheduler; });

    const Recording far = value(m.schedule(startingIn(600, "far")));
    EXPECT_EQ(inhibitor->live, 0) << "the computer will be woken for it";
    EXPECT_EQ(helperCalls.seconds(QStringLiteral("schedule")), QList<qint64>{far.startDate.toSecsSinceEpoch() - 60});

    // A recording due within the look-ahead holds at once...
    const Recording near = value(m.schedule(startingIn(120, "near")));
    EXPECT_EQ(inhibitor->live, 1);
    m.stop(near.id);
    m.checkSchedule();
    EXPECT_EQ(inhibitor->live, 0);

    // ...and one further ahead from the moment it comes within it.
    value(m.schedule(startingIn(240, "later")));
    advance(59s);
    m.checkSchedule();
    EXPECT_EQ(inhibitor->live, 0);
    advance(1s);
    m.checkSchedule();
    EXPECT_EQ(inhibitor->live, 1);
    EXPECT_EQ(inhibitor->begun, 2);
    manager.reset(); // before the scheduler it uses
}

// With wake scheduling off any scheduled recording holds; a hold the system
// refuses is asked for again at every check (here the schedule timer's), one granted is kept.
TEST_F(ManagerTest, WithWakeOffAnyRecordingHoldsAndAFailedHoldIsAskedForAgainAndLoggedOnceEachWay)
{
    inhibitor->failure = QStringLiteral("logind is not there");
    RecordingManager &m = makeManager([](RecordingManager::Environment &e) { e.timing.schedulePeriod = 10ms; });
    QSignalSpy holdChanges(&m, &RecordingManager::sleepHoldDidChange);
    LogCapture log;
    EXPECT_EQ(inhibitor->live, 0);
    const Recording r = value(m.schedule(startingIn(2 * 86400, "later")));
    EXPECT_EQ(inhibitor->live, 1);

    ASSERT_TRUE(testsupport::waitUntil([&] { return inhibitor->begun >= 3; })) << "asked again at each check";
    EXPECT_FALSE(m.isHoldingSleep());
    EXPECT_EQ(m.sleepHoldFailure(), QStringLiteral("logind is not there"));
    EXPECT_GE(holdChanges.count(), 2);

    inhibitor->failure.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.isHoldingSleep(); }));
    const int begun = inhibitor->begun;
    const auto changes = holdChanges.count();
    m.checkSchedule();
    EXPECT_EQ(inhibitor->begun, begun) << "a held activity is never restarted";
    EXPECT_EQ(holdChanges.count(), changes);
    EXPECT_EQ(log.all().filter(QStringLiteral("awake")),
              (QStringList{QStringLiteral("[TivoluxRecorder] cannot keep the computer awake: logind is not there"),
                           QStringLiteral("[TivoluxRecorder] the computer is kept awake again")}));
    m.deleteRecording(r.id);
    EXPECT_EQ(inhibitor->live, 0);
}
