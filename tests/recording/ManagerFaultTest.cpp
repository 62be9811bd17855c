#include "APIClient.h"
#include "CaptureTransfer.h"
#include "FakeProvider.h"
#include "LogCapture.h"
#include "ManagerTestSupport.h"
#include "RecorderMessages.h"
#include "RecordingServer.h"
#include "RetiredRecorderThreads.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

// The manager and its API server while the disk or the provider misbehaves.
namespace {

using Status = Recording::Status;
using namespace std::chrono_literals;

class ManagerFaultTest : public ManagerTest
{
protected:
    using Ready = std::function<bool(const QList<Recording> &hostile)>;

    struct Outcome
    {
        QList<Recording> beforeEnd; // the hostile recordings once ready() held
        QList<Recording> hostile;   // and after their end
    };

    // Runs recordings of the hostile paths beside a normal one, all due now
    // and ending in an hour on the test's clock, asking GET /api/recordings
    // every 50 ms. The clock stands still until ready() holds, the normal
    // recording has 100 kB and ten answers came: an answer that waited for a
    // fault would never come. Then the clock passes the end (a wake from
    // sleep has each recorder measure it at once): every recording must end,
    // and releasing the recorders must not hold up the API either.
    Outcome runBeside(const QStringList &hostilePaths, const Ready &ready = [](const auto &) { return true; })
    {
        provider.serve(QStringLiteral("/normal.ts"), FakeProvider::Answer::slowStream(4096, 5ms));
        QList<Recording> stored;
        for (const QString &path : QStringList{QStringLiteral("/normal.ts")} + hostilePaths)
            stored.append(due(provider.url(path).toString(), QStringLiteral("%1.ts").arg(stored.size()), 1h));
        storeIndex(stored);
        RecordingManager &m = makeManager();
        RecordingServer::Configuration configuration;
        configuration.address = QHostAddress(QHostAddress::LocalHost);
        configuration.port = 0;
        configuration.manager = &m;
        RecordingServer server(configuration);
        server.start();
        EXPECT_EQ(m.runningCount(), stored.size());

        int answered = 0;
        int unanswered = 0;
        const auto probeUntil = [&](const std::function<bool()> &done) {
            for (int i = 0; !done() && i < 400; ++i) {
                const auto response = apiRequest(server.serverPort(), "GET", "/api/recordings");
                ++(response && response->status == 200 ? answered : unanswered);
                // A real loop, so that recorders released with deleteLater
                // are destroyed here, as they are in the program.
                QEventLoop pause;
                QTimer::singleShot(50ms, &pause, &QEventLoop::quit);
                pause.exec();
            }
            return done();
        };
        const auto hostile = [&] {
            QList<Recording> found;
            for (const Recording &r : stored.mid(1))
                found.append(*m.recording(r.id));
            return found;
        };

        Outcome outcome;
        EXPECT_TRUE(probeUntil([&] { return answered >= 10 && m.recordings()[0].bytes > 100 * 1024 && ready(hostile()); }));
        outcome.beforeEnd = hostile();
        clock.advance(1h);
        emit wakeNotifier.didWakeFromSleep();
        EXPECT_TRUE(probeUntil([&] { return m.runningCount() == 0; })) << "every recording ends at its end";
        probeUntil([&, atEnd = answered] { return answered >= atEnd + 3; });
        EXPECT_EQ(unanswered, 0);

        const Recording normal = m.recordings()[0];
        EXPECT_EQ(normal.status, Status::Finished);
        EXPECT_TRUE(fileOf(normal) == FakeProvider::content(0, normal.bytes)) << "the normal recording is byte-exact";
        outcome.hostile = hostile();
        return outcome;
    }

    static QByteArray segmentBody(int n) { return FakeProvider::content(n * 18800, 18800); }

    LogCapture log;
    FakeProvider provider;
};

} // namespace

TEST_F(ManagerFaultTest, UnwritableIndexIsLoggedAndTheManagerWorksOnInMemory)
{
    // A read-only folder stops the index's temporary file; for root, whom
    // permissions do not stop, a folder in the index's place stops the final
    // rename. Either way every save fails.
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("recordings.json")));
    ASSERT_TRUE(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
    struct RestoreWritable
    {
        QString path;
        ~RestoreWritable() { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }
    } restore{folder.path()};

    RecordingManager &m = makeManager();
    const auto saveFailures = [&] {
        return log.all().filter(QRegularExpression(QStringLiteral("^\\[TivoluxRecorder\\] could not save recordings index: .+"))).size();
    };
    const Recording r = value(m.schedule(request(QStringLiteral("http://127.0.0.1:1/a.ts"), now().addDays(1), now().addDays(2))));
    const auto failuresAfterSchedule = saveFailures();
    EXPECT_GE(failuresAfterSchedule, 1) << "logged with its reason";
    EXPECT_EQ(m.recordings(), QList<Recording>{r}) << "kept in memory";
    EXPECT_EQ(value(m.extend(r.id, 30)).endDate, r.endDate.addSecs(30 * 60));
    EXPECT_GT(saveFailures(), failuresAfterSchedule) << "every later save is tried again";
    m.stop(r.id);
    EXPECT_TRUE(m.recordings().isEmpty()) << "withdrawn in memory";
    EXPECT_TRUE(QFileInfo(indexPath()).isDir());
}

TEST_F(ManagerFaultTest, TricklingProvidersHoldUpNothingElse)
{
    // One byte a second: as a stream, as a playlist, and as a segment.
    for (const char *path : {"/trickle.ts", "/trickle.m3u8", "/trickle-segment.ts"})
        provider.serve(QString::fromLatin1(path), FakeProvider::Answer::slowStream(1, 1000ms));
    provider.serve(QStringLiteral("/slow-segment.m3u8"),
                   FakeProvider::Answer::body("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n/trickle-segment.ts\n"));

    const Outcome outcome = runBeside(
        {QStringLiteral("/trickle.ts"), QStringLiteral("/trickle.m3u8"), QStringLiteral("/slow-segment.m3u8")},
        [&](const QList<Recording> &hostile) {
            return hostile[0].bytes >= 1 && provider.bytesSent(QStringLiteral("/trickle-segment.ts")) >= 1;
        });
    ASSERT_EQ(outcome.hostile.size(), 3);
    const Recording &stream = outcome.hostile[0];
    EXPECT_EQ(stream.status, Status::Finished) << "a slow stream is still a stream";
    EXPECT_EQ(fileOf(stream), FakeProvider::content(0, stream.bytes));
    for (const Recording &hls : outcome.hostile.mid(1)) {
        EXPECT_EQ(hls.status, Status::Failed) << "a body that never completes is never used";
        EXPECT_EQ(hls.errorMessage, RecorderMessages::noVideo());
        EXPECT_EQ(hls.bytes, 0);
    }
}

TEST_F(ManagerFaultTest, RecordingWaitingOnATricklingPlaylistStopsAtOnce)
{
    provider.serve(QStringLiteral("/trickle.m3u8"), FakeProvider::Answer::slowStream(1, 1000ms));
    const Recording stored = due(provider.url(QStringLiteral("/trickle.m3u8")).toString(), "trickle.ts", 1h);
    storeIndex({stored});
    RecordingManager &m = makeManager();
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.bytesSent(QStringLiteral("/trickle.m3u8")) >= 1; }));
    // The playlist never completes: the stop cannot wait for it.
    m.stop(stored.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusOf(stored.id) == Status::Stopped; }));
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }))
        << "the pending playlist request is dropped";
}

TEST_F(ManagerFaultTest, EndlessHeadersHoldUpNothing)
{
    // Header lines as fast as the recorder reads them, paced so that this
    // thread (which also runs the manager and the router) is not kept busy
    // by the fake itself.
    provider.serve(QStringLiteral("/fast-head.ts"), FakeProvider::Answer::endlessHead(2ms, 32 * 1024));
    provider.serve(QStringLiteral("/fast-head.m3u8"), FakeProvider::Answer::endlessHead(2ms, 32 * 1024));
    provider.serve(QStringLiteral("/slow-head.ts"), FakeProvider::Answer::endlessHead(100ms, 64));
    const Outcome outcome =
        runBeside({QStringLiteral("/fast-head.ts"), QStringLiteral("/fast-head.m3u8"), QStringLiteral("/slow-head.ts")});
    ASSERT_EQ(outcome.hostile.size(), 3);
    const QString tooLong = RecorderMessages::headTooLong(CaptureTransfer::longestHead);
    const QStringList messages{tooLong, tooLong, RecorderMessages::noVideo()};
    for (qsizetype i = 0; i < 3; ++i) {
        EXPECT_EQ(outcome.hostile[i].status, Status::Failed) << i;
        EXPECT_EQ(outcome.hostile[i].errorMessage, messages[i]) << i;
        EXPECT_EQ(outcome.hostile[i].bytes, 0);
    }
    // Once the provider goes away, every recorder thread ends.
    provider.closeConnections();
    RetiredRecorderThreads::waitForAll();
}

TEST_F(ManagerFaultTest, TenMegabytePlaylistsAreReadWithoutHoldingAnythingUpAndEndAtTheirEndLists)
{
    // A media playlist padded to 10 MB with tags around three segments, and
    // a master playlist of 10 MB of variants whose last one is the best.
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

    // Both finish while the clock stands an hour before their end date: only
    // their end lists can have ended them.
    const Outcome outcome = runBeside({QStringLiteral("/huge.m3u8"), QStringLiteral("/huge-master.m3u8")},
                                      [](const QList<Recording> &hostile) {
                                          return hostile[0].status != Status::Recording
                                              && hostile[1].status != Status::Recording;
                                      });
    ASSERT_EQ(outcome.beforeEnd.size(), 2);
    EXPECT_EQ(outcome.beforeEnd[0].status, Status::Finished);
    EXPECT_EQ(fileOf(outcome.beforeEnd[0]), segmentBody(0) + segmentBody(1) + segmentBody(2));
    EXPECT_EQ(outcome.beforeEnd[1].status, Status::Finished);
    EXPECT_EQ(fileOf(outcome.beforeEnd[1]), segmentBody(1)) << "the best variant of the long list";
    EXPECT_EQ(provider.requestCount(QStringLiteral("/missing.m3u8")), 0);
    EXPECT_EQ(outcome.hostile, outcome.beforeEnd) << "nothing changed at the end date";
}
