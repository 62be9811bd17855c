#include "ManagerTestSupport.h"

TEST_F(ManagerTest, ScheduleRefusesBuildsSavesAndDeduplicates)
{
    RecordingManager &m = makeManager();
    const QDateTime start = now().addSecs(3600);
    for (const char *local : {"", "http://exa mple/%zz", "file:///etc/passwd", "http:///nohost.ts"}) {
        EXPECT_EQ(errorOf(m.schedule(request(QString::fromLatin1(local), start, start.addSecs(60)))),
                  QStringLiteral("The channel has no valid stream link."))
            << local;
    }
    EXPECT_TRUE(indexText().isEmpty()) << "a refused request writes nothing";

    RecordingRequest r = startingIn(3600);
    r.title.clear();
    r.userAgent = QStringLiteral("Agent/1");
    const Recording first = value(m.schedule(r));
    EXPECT_EQ(first.title, QStringLiteral("Channel One")) << "empty title takes the channel name";
    EXPECT_TRUE(first.fileName.startsWith(QStringLiteral("Channel One ")));
    EXPECT_EQ(first.status, Status::Scheduled);
    EXPECT_EQ(first.startDate, r.programStart);
    EXPECT_EQ(first.endDate, r.programEnd.addSecs(300));
    EXPECT_EQ(first.userAgent, QStringLiteral("Agent/1"));
    EXPECT_EQ(readIndex(folder.path()), QList<Recording>{first});

    // The same programme again answers the active recording and saves nothing.
    const QString before = indexText();
    EXPECT_EQ(value(m.schedule(request(kDeadStream, start, start.addSecs(1800)))).id, first.id);
    EXPECT_EQ(indexText(), before);

    // New recordings go to the front; a withdrawn one may be scheduled anew.
    const Recording second = value(m.schedule(startingIn(3600, "ch2")));
    EXPECT_EQ(m.recordings().size(), 2);
    EXPECT_EQ(m.recordings().first().id, second.id);
    m.stop(first.id);
    m.stop(second.id);
    EXPECT_EQ(indexText().trimmed(), QStringLiteral("[\n]"));
    EXPECT_NE(value(m.schedule(startingIn(3600))).id, first.id);
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
