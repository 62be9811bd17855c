#include "APIClient.h"
#include "CaptureTransfer.h"
#include "ManagerTestSupport.h"
#include "RecorderMessages.h"
#include "RecordingServer.h"
#include "RetiredRecorderThreads.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>

// The manager and its API server while the disk or the provider misbehaves.
using ManagerFaultTest = ManagerCaptureTest;

TEST_F(ManagerFaultTest, UnwritableIndexIsLoggedAndTheManagerWorksOnInMemory)
{
    // A read-only folder stops the index's temporary file; for root, a folder
    // in the index's place stops the final rename. Either way every save fails.
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("recordings.json")));
    ASSERT_TRUE(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
    const auto restore = qScopeGuard(
        [&] { QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });

    LogCapture log;
    RecordingManager &m = makeManager();
    const auto saveFailures = [&] {
        return log.all().filter(QRegularExpression(QStringLiteral("^\\[TivoluxRecorder\\] could not save recordings index: .+"))).size();
    };
    const Recording r = value(m.schedule(startingIn(86400)));
    const auto failuresAfterSchedule = saveFailures();
    EXPECT_GE(failuresAfterSchedule, 1) << "logged with its reason";
    EXPECT_EQ(m.recordings(), QList<Recording>{r}) << "kept in memory";
    EXPECT_EQ(value(m.extend(r.id, 30)).endDate, r.endDate.addSecs(30 * 60));
    EXPECT_GT(saveFailures(), failuresAfterSchedule) << "every later save is tried again";
    m.stop(r.id);
    EXPECT_TRUE(m.recordings().isEmpty()) << "withdrawn in memory";
    EXPECT_TRUE(QFileInfo(indexPath()).isDir());
}

TEST_F(ManagerFaultTest, RecordingWaitingOnATricklingPlaylistStopsAtOnce)
{
    provider.serve(QStringLiteral("/trickle.m3u8"), FakeProvider::Answer::slowStream(1, 1000ms));
    const Recording stored = due(url("/trickle.m3u8"), "trickle.ts", 1h);
    storeIndex({stored});
    makeManager();
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.bytesSent(QStringLiteral("/trickle.m3u8")) >= 1; }));
    manager->stop(stored.id);
    ASSERT_TRUE(waitFor(stored.id, Status::Stopped));
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }))
        << "the pending playlist request is dropped";
}

// Recordings of hostile answers run beside a normal one, all ending in an hour,
// while GET /api/recordings is asked every 50 ms: an answer that waited for a
// fault would never come. Then the clock passes the end: every recording ends,
// and releasing the recorders must not hold up the API either.
TEST_F(ManagerFaultTest, HostileProvidersHoldUpNothingElse)
{
    const auto segmentBody = [](int n) { return FakeProvider::content(n * 18800, 18800); };
    // One byte a second: as a stream, as a playlist, and as a segment.
    for (const char *path : {"/trickle.ts", "/trickle.m3u8", "/trickle-segment.ts"})
        provider.serve(QString::fromLatin1(path), FakeProvider::Answer::slowStream(1, 1000ms));
    provider.serve(QStringLiteral("/slow-segment.m3u8"),
                   FakeProvider::Answer::body("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n/trickle-segment.ts\n"));
    // Header lines paced so that the fake does not keep this thread, which runs the manager, busy.
    provider.serve(QStringLiteral("/fast-head.ts"), FakeProvider::Answer::endlessHead(2ms, 32 * 1024));
    provider.serve(QStringLiteral("/fast-head.m3u8"), FakeProvider::Answer::endlessHead(2ms, 32 * 1024));
    provider.serve(QStringLiteral("/slow-head.ts"), FakeProvider::Answer::endlessHead(100ms, 64));
    // A 10 MB media playlist of three segments, and a 10 MB master whose last variant is the best.
    const int tenMegabytes = 10 * 1024 * 1024;
    const QByteArray tag = "#EXT-X-PROGRAM-DATE-TIME:2024-05-01T21:00:00.000Z\n";
    QByteArray media = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:0\n" + tag.repeated(tenMegabytes / tag.size());
    for (int n = 0; n < 3; ++n) {
        media += "#EXTINF:1,\n/seg" + QByteArray::number(n) + ".ts\n";
        provider.serve(QStringLiteral("/seg%1.ts").arg(n), FakeProvider::Answer::body(segmentBody(n), "video/mp2t"));
    }
    provider.serve(QStringLiteral("/huge.m3u8"), FakeProvider::Answer::body(media + "#EXT-X-ENDLIST\n"));
    const QByteArray variant = "#EXT-X-STREAM-INF:BANDWIDTH=1000\n/missing.m3u8\n";
    provider.serve(QStringLiteral("/huge-master.m3u8"),
                   FakeProvider::Answer::body("#EXTM3U\n" + variant.repeated(tenMegabytes / variant.size())
                                              + "#EXT-X-STREAM-INF:BANDWIDTH=2000\n/best.m3u8\n"));
    provider.serve(QStringLiteral("/best.m3u8"),
                   FakeProvider::Answer::body("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n/seg1.ts\n#EXT-X-ENDLIST\n"));
    provider.serve(QStringLiteral("/normal.ts"), FakeProvider::Answer::slowStream(4096, 5ms));

    QList<Recording> stored;
    for (const char *path : {"/normal.ts", "/trickle.ts", "/trickle.m3u8", "/slow-segment.m3u8", "/fast-head.ts",
                             "/fast-head.m3u8", "/slow-head.ts", "/huge.m3u8", "/huge-master.m3u8"})
        stored.append(due(url(path), QStringLiteral("%1.ts").arg(stored.size()), 1h));
    storeIndex(stored);
    RecordingManager &m = makeManager();
    RecordingServer server({QHostAddress(QHostAddress::LocalHost), 0, {}, 0, &m});
    server.start();
    EXPECT_EQ(m.runningCount(), stored.size());
    const auto at = [&](int i) { return *m.recording(stored[i].id); };
    int answered = 0;
    int unanswered = 0;
    const auto probeUntil = [&](const std::function<bool()> &done) {
        for (int i = 0; !done() && i < 400; ++i) {
            const auto response = apiRequest(server.serverPort(), "GET", "/api/recordings");
            ++(response && response->status == 200 ? answered : unanswered);
            // A real loop, so that recorders released with deleteLater are destroyed here.
            QEventLoop pause;
            QTimer::singleShot(50ms, &pause, &QEventLoop::quit);
            pause.exec();
        }
        return done();
    };

    // The huge playlists finish an hour before their end date: only their end lists can end them.
    EXPECT_TRUE(probeUntil([&] {
        return answered >= 10 && at(0).bytes > 100 * 1024 && at(1).bytes >= 1
            && provider.bytesSent(QStringLiteral("/trickle-segment.ts")) >= 1 && at(7).status != Status::Recording
            && at(8).status != Status::Recording;
    }));
    const Recording huge = at(7);
    const Recording master = at(8);
    EXPECT_EQ(huge.status, Status::Finished);
    EXPECT_EQ(fileOf(huge), segmentBody(0) + segmentBody(1) + segmentBody(2));
    EXPECT_EQ(master.status, Status::Finished);
    EXPECT_EQ(fileOf(master), segmentBody(1)) << "the best variant of the long list";
    EXPECT_EQ(provider.requestCount(QStringLiteral("/missing.m3u8")), 0);

    advance(1h);
    emit wakeNotifier.didWakeFromSleep();
    EXPECT_TRUE(probeUntil([&] { return m.runningCount() == 0; })) << "every recording ends at its end";
    probeUntil([&, atEnd = answered] { return answered >= atEnd + 3; });
    EXPECT_EQ(unanswered, 0);
    for (const int i : {0, 1}) {
        EXPECT_EQ(at(i).status, Status::Finished) << "a slow stream is still a stream";
        EXPECT_EQ(fileOf(at(i)), FakeProvider::content(0, at(i).bytes));
    }
    // A body that never completes is never used; a head never ends.
    const QString noVideo = RecorderMessages::noVideo();
    const QString tooLong = RecorderMessages::headTooLong(CaptureTransfer::longestHead);
    const QStringList messages{noVideo, noVideo, tooLong, tooLong, noVideo};
    for (int i = 2; i < 7; ++i) {
        EXPECT_EQ(at(i).status, Status::Failed) << i;
        EXPECT_EQ(at(i).errorMessage, messages[i - 2]) << i;
        EXPECT_EQ(at(i).bytes, 0) << i;
    }
    EXPECT_EQ(at(7), huge) << "nothing changed at the end date";
    EXPECT_EQ(at(8), master);
    // Once the provider goes away, every recorder thread ends.
    provider.closeConnections();
    RetiredRecorderThreads::waitForAll();
}
