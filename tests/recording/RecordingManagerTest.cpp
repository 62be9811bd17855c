#include "ManagerTestSupport.h"
#include "RecordingIndex.h"

namespace {

using Status = Recording::Status;

// A stream address that never answers: nothing listens on port 1.
const QString kDeadStream = QStringLiteral("http://127.0.0.1:1/stream.ts");

} // namespace

TEST_F(ManagerTest, ScheduleRefusesBadLinksAndEndedProgrammes)
{
    RecordingManager &m = makeManager();
    for (const char *local : {"", "http://exa mple/%zz", "file:///etc/passwd", "http:///nohost.ts"}) {
        EXPECT_EQ(errorOf(m.schedule(request(QString::fromLatin1(local), now().addSecs(60), now().addSecs(120)))),
                  QStringLiteral("The channel has no valid stream link."))
            << local;
    }
    EXPECT_EQ(errorOf(m.schedule(request(kDeadStream, now().addSecs(-120), now()))),
              QStringLiteral("This programme has already ended."));
    EXPECT_TRUE(m.recordings().isEmpty());
    EXPECT_TRUE(indexText().isEmpty()) << "a refused request writes nothing";
}

TEST_F(ManagerTest, ScheduleBuildsTheRecordingAndSavesIt)
{
    RecordingManager &m = makeManager();
    RecordingRequest r = request(kDeadStream, now().addSecs(3600), now().addSecs(7200));
    r.title.clear();
    r.userAgent = QStringLiteral("Agent/1");
    const Recording created = value(m.schedule(r));

    EXPECT_EQ(created.title, QStringLiteral("Channel One")) << "empty title takes the channel name";
    EXPECT_TRUE(created.fileName.startsWith(QStringLiteral("Channel One ")));
    EXPECT_EQ(created.status, Status::Scheduled);
    EXPECT_EQ(created.startDate, r.programStart);
    EXPECT_EQ(created.endDate, r.programEnd.addSecs(300));
    EXPECT_EQ(created.userAgent, QStringLiteral("Agent/1"));
    EXPECT_EQ(readIndex(folder.path()), QList<Recording>{created});

    // New recordings go to the front.
    const Recording second = value(m.schedule(request(kDeadStream, now().addSecs(3600), now().addSecs(7200), "ch2")));
    EXPECT_EQ(m.recordings().first().id, second.id);
}

TEST_F(ManagerTest, DuplicatesReturnTheActiveRecordingOnly)
{
    RecordingManager &m = makeManager();
    const QDateTime start = now().addSecs(3600);
    const Recording first = value(m.schedule(request(kDeadStream, start, start.addSecs(3600))));
    const QString before = indexText();
    const Recording again = value(m.schedule(request(kDeadStream, start, start.addSecs(1800))));
    EXPECT_EQ(again.id, first.id);
    EXPECT_EQ(m.recordings().size(), 1);
    EXPECT_EQ(indexText(), before);

    // Withdrawn: the same programme may be scheduled anew.
    m.stop(first.id);
    EXPECT_TRUE(m.recordings().isEmpty());
    EXPECT_EQ(indexText().trimmed(), QStringLiteral("[\n]"));
    const Recording fresh = value(m.schedule(request(kDeadStream, start, start.addSecs(3600))));
    EXPECT_NE(fresh.id, first.id);
}

TEST_F(ManagerTest, SleepHoldFollowsScheduledRecordings)
{
    RecordingManager &m = makeManager();
    EXPECT_EQ(inhibitor->live, 0);
    const Recording r = value(m.schedule(request(kDeadStream, now().addSecs(3600), now().addSecs(7200))));
    // With wake scheduling off, any scheduled recording keeps the computer awake.
    EXPECT_EQ(inhibitor->live, 1);
    m.checkSchedule();
    EXPECT_EQ(inhibitor->begun, 1) << "a held activity is never restarted";
    m.deleteRecording(r.id);
    EXPECT_EQ(inhibitor->live, 0);
}

TEST_F(ManagerTest, ARecordingMissedWhileAsleepFailsWhenTheComputerWakes)
{
    // An entry that failed in an earlier version keeps the message it was
    // saved with.
    Recording earlier = due(kDeadStream, QStringLiteral("earlier.ts"), std::chrono::milliseconds(-1000));
    earlier.status = Status::Failed;
    earlier.errorMessage = QStringLiteral("The Mac was asleep or the recorder was not running at the scheduled time.");
    storeIndex({earlier});
    RecordingManager &m = makeManager();
    const Recording r = value(m.schedule(request(kDeadStream, now().addSecs(60), now().addSecs(120))));

    // Asleep past its whole programme; only the wake notification runs the
    // check here (the schedule timer is an hour).
    clock.advance(std::chrono::minutes(10));
    emit wakeNotifier.didWakeFromSleep();
    EXPECT_EQ(statusOf(r.id), Status::Failed);
    EXPECT_EQ(m.recording(r.id)->errorMessage,
              QStringLiteral("The computer was asleep or the recorder was not running at the scheduled time."));
    EXPECT_EQ(readIndex(folder.path()), m.recordings());
    EXPECT_EQ(m.recording(earlier.id)->errorMessage, earlier.errorMessage);
}
