#include "APIClient.h"
#include "CaptureTransfer.h"
#include "FakeProvider.h"
#include "LogCapture.h"
#include "ManagerTestSupport.h"
#include "RecorderMessages.h"
#include "RecordingServer.h"
#include "RetiredRecorderThreads.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTimer>
#include <QStringList>

// The manager and its API server while the disk or the provider misbehaves.
namespace {

using Status = Recording::Status;
using namespace std::chrono_literals;

// Where the recordings beside each other end on the test's clock, which
// stands still before then for as long as a test lets the faults go on.
constexpr auto kUntilEnd = 1h;

class ManagerFaultTest : public ManagerTest
{
protected:
    void TearDown() override
    {
        server.reset();
        ManagerTest::TearDown();
    }

    quint16 startServer(RecordingManager &m)
    {
        RecordingServer::Configuration configuration;
        configuration.address = QHostAddress(QHostAddress::LocalHost);
        configuration.port = 0;
        configuration.manager = &m;
        server = std::make_unique<RecordingServer>(configuration);
        server->start();
        return server->serverPort();
    }

    // Asks GET /api/recordings every 50 ms until done() holds; answers
    // whether it did within 20 s.
    bool probeUntil(quint16 port, const std::function<bool()> &done)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 20000) {
            const auto response = apiRequest(port, "GET", "/api/recordings");
            ++(response && response->status == 200 ? answered : unanswered);
            // A real loop, so that recorders released with deleteLater are
            // destroyed here, as they are in the program.
            QEventLoop pause;
            QTimer::singleShot(50ms, &pause, &QEventLoop::quit);
            pause.exec();
        }
        return done();
    }

    struct Outcome
    {
        Recording normal;
        QList<Recording> beforeEnd; // the hostile recordings once ready() held
        QList<Recording> hostile;
    };

    // Runs the given hostile recordings beside a normal one, all due now, with
    // the API asked all the while. The clock stands still before their end
    // until ready() holds, the normal recording has 100 kB and the API has
    // answered ten times: as the faults cannot end by themselves meanwhile,
    // any answer that waited for them would never come. Then the clock
    // passes the end (a wake from sleep has each recorder measure it at
    // once), every recording must end, and releasing the recorders must not
    // hold up the API either.
    using Ready = std::function<bool(const QList<Recording> &hostile)>;
    Outcome runBeside(const QStringList &hostileURLs, const Ready &ready = [](const auto &) { return true; })
    {
        provider.serve(QStringLiteral("/normal.ts"), FakeProvider::Answer::slowStream(4096, 5ms));
        QList<Recording> stored{due(provider.url(QStringLiteral("/normal.ts")).toString(), "normal.ts", kUntilEnd)};
        for (qsizetype i = 0; i < hostileURLs.size(); ++i)
            stored.append(due(hostileURLs[i], QStringLiteral("hostile-%1.ts").arg(i), kUntilEnd));
        storeIndex(stored);
        RecordingManager &m = makeManager();
        const quint16 port = startServer(m);
        EXPECT_EQ(m.runningCount(), stored.size());

        Outcome outcome;
        auto hostile = [&] {
            QList<Recording> found;
            for (const Recording &r : stored.mid(1))
                found.append(*m.recording(r.id));
            return found;
        };
        EXPECT_TRUE(probeUntil(port, [&] {
            return answered >= 10 && m.recording(stored[0].id)->bytes > 100 * 1024 && ready(hostile());
        }));
        outcome.beforeEnd = hostile();
        clock.advance(kUntilEnd);
        emit wakeNotifier.didWakeFromSleep();
        EXPECT_TRUE(probeUntil(port, [&] { return m.runningCount() == 0; })) << "every recording ends at its end";
        const int answeredAtEnd = answered;
        probeUntil(port, [&] { return answered >= answeredAtEnd + 3; });
        EXPECT_EQ(unanswered, 0);

        outcome.normal = *m.recording(stored[0].id);
        EXPECT_EQ(outcome.normal.status, Status::Finished) << outcome.normal.errorMessage.value_or(QString()).toStdString();
        const QByteArray file = fileOf(outcome.normal);
        EXPECT_EQ(outcome.normal.bytes, file.size());
        EXPECT_TRUE(file == FakeProvider::content(0, file.size())) << "the normal recording is byte-exact";
        outcome.hostile = hostile();
        return outcome;
    }

    static QByteArray segmentBody(int n) { return FakeProvider::content(n * 18800, 18800); }

    LogCapture log;
    FakeProvider provider;
    std::unique_ptr<RecordingServer> server;
    int answered = 0;
    int unanswered = 0;
};

} // namespace

TEST_F(ManagerFaultTest, UnwritableIndexIsLoggedAndTheManagerWorksOnInMemory)
{
    // A read-only folder stops the index's temporary file; for root, whom
    // permissions do not stop, a folder in the index's place stops the final
    // rename. Either way every save fails.
    const QString folderPath = folder.path();
    ASSERT_TRUE(QDir(folderPath).mkdir(QStringLiteral("recordings.json")));
    ASSERT_TRUE(QFile::setPermissions(folderPath, QFile::ReadOwner | QFile::ExeOwner));
    struct RestoreWritable
    {
        QString path;
        ~RestoreWritable() { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }
    } restore{folderPath};

    RecordingManager &m = makeManager();
    const quint16 port = startServer(m);
    RecordingRequest later = request(QStringLiteral("http://127.0.0.1:1/later.ts"), now().addSecs(3600),
                                     now().addSecs(7200));
    const auto created = apiRequest(port, "POST", "/api/recordings",
                                    QJsonDocument(sharedJSONEncoder().encode(later)).toJson());
    ASSERT_TRUE(created);
    ASSERT_EQ(created->status, 201) << created->body.toStdString();
    const QString id = created->object().value(QStringLiteral("id")).toString();

    const QString saveFailure = QStringLiteral("[TivoluxRecorder] could not save recordings index: ");
    auto saveFailures = [&] {
        const QStringList lines = log.all();
        return std::count_if(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.startsWith(saveFailure); });
    };
    const auto failuresAfterSchedule = saveFailures();
    EXPECT_GE(failuresAfterSchedule, 1);
    for (const QString &line : log.all()) {
        if (line.startsWith(saveFailure)) {
            EXPECT_GT(line.size(), saveFailure.size()) << "the reason follows the text";
        }
    }

    const auto listed = listedRecording(port, id);
    ASSERT_TRUE(listed) << "the API lists the recording kept in memory";
    EXPECT_EQ(listed->value(QStringLiteral("status")).toString(), QStringLiteral("scheduled"));

    const auto extended = apiRequest(port, "POST", ("/api/recordings/" + id + "/extend").toUtf8(), R"({"minutes":30})");
    ASSERT_TRUE(extended);
    EXPECT_EQ(extended->status, 200);
    EXPECT_EQ(listedRecording(port, id)->value(QStringLiteral("endDate")).toString(),
              sharedJSONEncoder().encodeDate(later.programEnd.addSecs(300 + 30 * 60)));
    EXPECT_GT(saveFailures(), failuresAfterSchedule) << "every later save is tried again";

    const auto stopped = apiRequest(port, "POST", ("/api/recordings/" + id + "/stop").toUtf8());
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->status, 204);
    EXPECT_FALSE(listedRecording(port, id)) << "withdrawn in memory";
    EXPECT_TRUE(QFileInfo(QDir(folderPath).filePath(QStringLiteral("recordings.json"))).isDir());
}

TEST_F(ManagerFaultTest, TricklingProvidersHoldUpNothingElse)
{
    // One byte a second: as a stream, as a playlist, and as a segment.
    provider.serve(QStringLiteral("/trickle.ts"), FakeProvider::Answer::slowStream(1, 1000ms));
    provider.serve(QStringLiteral("/trickle.m3u8"), FakeProvider::Answer::slowStream(1, 1000ms));
    provider.serve(QStringLiteral("/slow-segment.m3u8"),
                   FakeProvider::Answer::body("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n/trickle-segment.ts\n"));
    provider.serve(QStringLiteral("/trickle-segment.ts"), FakeProvider::Answer::slowStream(1, 1000ms));

    const Outcome outcome = runBeside(
        {provider.url(QStringLiteral("/trickle.ts")).toString(), provider.url(QStringLiteral("/trickle.m3u8")).toString(),
         provider.url(QStringLiteral("/slow-segment.m3u8")).toString()},
        [&](const QList<Recording> &hostile) {
            return hostile[0].bytes >= 1 && provider.bytesSent(QStringLiteral("/trickle-segment.ts")) >= 1;
        });
    ASSERT_EQ(outcome.hostile.size(), 3);
    const Recording &stream = outcome.hostile[0];
    EXPECT_EQ(stream.status, Status::Finished) << "a slow stream is still a stream";
    const QByteArray file = fileOf(stream);
    EXPECT_GE(file.size(), 1);
    EXPECT_EQ(stream.bytes, file.size());
    EXPECT_TRUE(file == FakeProvider::content(0, file.size()));
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
    const quint16 port = startServer(m);
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.bytesSent(QStringLiteral("/trickle.m3u8")) >= 1; }));

    // The playlist never completes: the stop cannot wait for it.
    const auto stopped = apiRequest(
        port, "POST", ("/api/recordings/" + stored.id.toString(QUuid::WithoutBraces).toUpper() + "/stop").toUtf8());
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->status, 204);
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(stored.id)->status == Status::Stopped; }));
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
    const Outcome outcome = runBeside({provider.url(QStringLiteral("/fast-head.ts")).toString(),
                                       provider.url(QStringLiteral("/fast-head.m3u8")).toString(),
                                       provider.url(QStringLiteral("/slow-head.ts")).toString()});
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
    media += "#EXT-X-ENDLIST\n";
    provider.serve(QStringLiteral("/huge.m3u8"), FakeProvider::Answer::body(media));

    const QByteArray variant = "#EXT-X-STREAM-INF:BANDWIDTH=1000\n/missing.m3u8\n";
    const QByteArray master = "#EXTM3U\n" + variant.repeated(tenMegabytes / variant.size())
        + "#EXT-X-STREAM-INF:BANDWIDTH=2000\n/best.m3u8\n";
    provider.serve(QStringLiteral("/huge-master.m3u8"), FakeProvider::Answer::body(master));
    provider.serve(QStringLiteral("/best.m3u8"),
                   FakeProvider::Answer::body("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n/seg1.ts\n#EXT-X-ENDLIST\n"));

    // Both finish while the clock stands before their end date: only their
    // end lists can have ended them.
    const Outcome outcome = runBeside(
        {provider.url(QStringLiteral("/huge.m3u8")).toString(), provider.url(QStringLiteral("/huge-master.m3u8")).toString()},
        [](const QList<Recording> &hostile) {
            return hostile[0].status != Status::Recording && hostile[1].status != Status::Recording;
        });
    ASSERT_EQ(outcome.beforeEnd.size(), 2);
    const Recording &media10 = outcome.beforeEnd[0];
    EXPECT_EQ(media10.status, Status::Finished);
    EXPECT_EQ(fileOf(media10), segmentBody(0) + segmentBody(1) + segmentBody(2));
    const Recording &master10 = outcome.beforeEnd[1];
    EXPECT_EQ(master10.status, Status::Finished);
    EXPECT_EQ(fileOf(master10), segmentBody(1)) << "the best variant of the long list";
    EXPECT_EQ(provider.requestCount(QStringLiteral("/missing.m3u8")), 0);
    EXPECT_EQ(outcome.hostile, outcome.beforeEnd) << "nothing changed at the end date";
}

// Every date the API accepts is stored in a form the next start reads back;
// dates the index cannot hold are refused before anything is stored.
TEST_F(ManagerFaultTest, EdgeDatesSurviveARestartAndUnstorableOnesAreRefused)
{
    RecordingManager &m = makeManager();
    const quint16 port = startServer(m);
    auto post = [&](const char *start, const char *end, const char *channel) {
        const QByteArray body = QStringLiteral(R"({"title":"T","channelName":"C","channelID":"%1",)"
                                               R"("streamURL":"http://127.0.0.1:1/s.ts",)"
                                               R"("programStart":"%2","programEnd":"%3"})")
                                    .arg(QLatin1String(channel), QLatin1String(start), QLatin1String(end))
                                    .toUtf8();
        return apiRequest(port, "POST", "/api/recordings", body);
    };

    const auto past9999 = post("9999-12-31T20:00:00Z", "9999-12-31T23:59:59Z", "a");
    const auto beforeYear1 = post("0001-01-01T00:30:00+01:00", "9999-01-01T00:00:00Z", "b");
    for (const auto &refused : {past9999, beforeYear1}) {
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 400);
        EXPECT_EQ(refused->object().value(QStringLiteral("error")).toString(), QStringLiteral("Invalid request."));
    }

    const auto lastEnd = post("0001-01-01T00:00:00Z", "9999-12-31T23:54:59Z", "c");
    ASSERT_TRUE(lastEnd);
    ASSERT_EQ(lastEnd->status, 201) << lastEnd->body.toStdString();
    const QString id = lastEnd->object().value(QStringLiteral("id")).toString();
    const auto extended = apiRequest(port, "POST", ("/api/recordings/" + id + "/extend").toUtf8(), R"({"minutes":1})");
    ASSERT_TRUE(extended);
    EXPECT_EQ(extended->status, 400) << "an extension may not carry the end past year 9999";
    EXPECT_EQ(extended->object().value(QStringLiteral("error")).toString(), QStringLiteral("Invalid extension."));

    // A hand-edited index may hold the nil id; it loads with the rest.
    QList<Recording> stored = m.recordings();
    ASSERT_EQ(stored.size(), 1);
    Recording nil = stored.first();
    nil.id = QUuid();
    nil.channelID = QStringLiteral("nil");
    stored.append(nil);
    server.reset();
    manager.reset();
    storeIndex(stored);
    EXPECT_TRUE(indexText().contains(QLatin1String("00000000-0000-0000-0000-000000000000")));

    RecordingManager &fresh = makeManager();
    const QList<Recording> loaded = fresh.recordings();
    ASSERT_EQ(loaded.size(), 2) << indexText().toStdString();
    EXPECT_EQ(sharedJSONEncoder().encodeDate(loaded[0].programStart), QStringLiteral("0001-01-01T00:00:00Z"));
    EXPECT_EQ(sharedJSONEncoder().encodeDate(loaded[0].endDate), QStringLiteral("9999-12-31T23:59:59Z"));
    EXPECT_TRUE(loaded[1].id.isNull());
}
