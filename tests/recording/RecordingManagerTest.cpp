#include "ManagerTestSupport.h"

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

// Every date the manager accepts is stored in a form the next start reads
// back; dates the index cannot hold are refused before anything is stored.
TEST_F(ManagerTest, EdgeDatesSurviveARestartAndUnstorableOnesAreRefused)
{
    const QDateTime first(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime last(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
    RecordingManager &m = makeManager();
    EXPECT_EQ(errorOf(m.schedule(request(kDeadStream, last.addSecs(-3600), last))), QStringLiteral("Invalid request."))
        << "the margin would carry the end past year 9999";
    const Recording r = value(m.schedule(request(kDeadStream, first, last.addSecs(-300))));
    EXPECT_EQ(r.endDate, last);
    EXPECT_EQ(errorOf(m.extend(r.id, 1)), QStringLiteral("Invalid extension."));

    // A hand-edited index may hold the nil id; it loads with the rest.
    Recording nil = r;
    nil.id = QUuid();
    nil.channelID = QStringLiteral("nil");
    manager.reset();
    storeIndex({r, nil});
    const QList<Recording> loaded = makeManager().recordings();
    ASSERT_EQ(loaded.size(), 2) << indexText().toStdString();
    EXPECT_EQ(loaded[0].programStart, first);
    EXPECT_EQ(loaded[0].endDate, last);
    EXPECT_TRUE(loaded[1].id.isNull());
}
