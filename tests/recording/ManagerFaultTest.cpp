#include "APIClient.h"
#include "FakeProvider.h"
#include "LogCapture.h"
#include "ManagerTestSupport.h"
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

// Longest time any API answer may take while a fault is going on.
constexpr auto kAnswerBound = 1000ms;

QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// How the API answered while it was asked every 100 ms.
struct Probe
{
    int answered = 0;
    int unanswered = 0;
    std::chrono::milliseconds slowest{0};
    // Between the starts of two probes: this thread also runs the manager,
    // so a long gap means the manager was held up.
    std::chrono::milliseconds longestGap{0};
    QElapsedTimer sincePrevious;
};

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

    // Asks GET /api/recordings every 100 ms until done() holds or the time
    // is up; answers whether done() held.
    bool probeUntil(quint16 port, const std::function<bool()> &done, std::chrono::milliseconds timeout, Probe &probe)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeout.count()) {
            if (probe.sincePrevious.isValid())
                probe.longestGap = std::max(probe.longestGap, std::chrono::milliseconds(probe.sincePrevious.elapsed()));
            probe.sincePrevious.start();
            if (done())
                return true;
            const auto response = apiRequest(port, "GET", "/api/recordings", {}, 5s);
            if (response && response->status == 200) {
                ++probe.answered;
                probe.slowest = std::max(probe.slowest, response->elapsed);
            } else {
                ++probe.unanswered;
            }
            // A real loop, so that recorders released with deleteLater are
            // destroyed here, as they are in the program.
            QEventLoop pause;
            QTimer::singleShot(100ms, &pause, &QEventLoop::quit);
            pause.exec();
        }
        return done();
    }

    QByteArray fileOf(const Recording &r) const
    {
        return testsupport::readFile(QDir(folder.path()).filePath(r.fileName));
    }

    struct Outcome
    {
        Recording normal;
        QList<Recording> hostile;
        Probe probe;
    };

    // Runs the given hostile recordings beside a normal one, all due now
    // and ending after untilEnd, with the API asked all the while. Checks
    // what must hold whatever the fault: every recording ends soon after its
    // end, the API keeps answering quickly, the normal recording is whole.
    Outcome runBeside(const QStringList &hostileURLs, std::chrono::milliseconds untilEnd = 3s)
    {
        provider.serve(QStringLiteral("/normal.ts"), FakeProvider::Answer::slowStream(4096, 5ms));
        QList<Recording> stored{due(provider.url(QStringLiteral("/normal.ts")).toString(),
                                    QStringLiteral("normal.ts"), untilEnd)};
        for (qsizetype i = 0; i < hostileURLs.size(); ++i)
            stored.append(due(hostileURLs[i], QStringLiteral("hostile-%1.ts").arg(i), untilEnd));
        storeIndex(stored);

        RecordingManager &m = makeManager();
        const quint16 port = startServer(m);
        EXPECT_NE(port, 0);
        EXPECT_EQ(m.runningCount(), stored.size());

        Outcome outcome;
        const bool ended = probeUntil(port, [&] { return m.runningCount() == 0; }, untilEnd + 5s, outcome.probe);
        EXPECT_TRUE(ended) << "every recording ends soon after its end date";
        // Releasing the ended recorders must not hold up the API either.
        probeUntil(port, [] { return false; }, 2s, outcome.probe);
        EXPECT_EQ(outcome.probe.unanswered, 0);
        EXPECT_GE(outcome.probe.answered, 10);
        EXPECT_LE(outcome.probe.slowest, kAnswerBound);
        EXPECT_LE(outcome.probe.longestGap, kAnswerBound + 100ms);

        outcome.normal = *m.recording(stored.first().id);
        EXPECT_EQ(outcome.normal.status, Status::Finished) << outcome.normal.errorMessage.value_or(QString()).toStdString();
        const QByteArray file = fileOf(outcome.normal);
        EXPECT_GT(file.size(), 100 * 1024) << "the normal recording kept flowing";
        EXPECT_EQ(outcome.normal.bytes, file.size());
        EXPECT_TRUE(file == FakeProvider::content(0, file.size())) << "the normal recording is byte-exact";
        for (qsizetype i = 1; i < stored.size(); ++i)
            outcome.hostile.append(*m.recording(stored[i].id));
        return outcome;
    }

    static QByteArray segmentBody(int n) { return FakeProvider::content(n * 18800, 18800); }

    void serveSegments(int count)
    {
        for (int n = 0; n < count; ++n)
            provider.serve(QStringLiteral("/seg%1.ts").arg(n), FakeProvider::Answer::body(segmentBody(n), "video/mp2t"));
    }

    LogCapture log;
    FakeProvider provider;
    std::unique_ptr<RecordingServer> server;
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

    const Outcome outcome = runBeside({provider.url(QStringLiteral("/trickle.ts")).toString(),
                                       provider.url(QStringLiteral("/trickle.m3u8")).toString(),
                                       provider.url(QStringLiteral("/slow-segment.m3u8")).toString()});
    ASSERT_EQ(outcome.hostile.size(), 3);
    const Recording &stream = outcome.hostile[0];
    EXPECT_EQ(stream.status, Status::Finished) << "a slow stream is still a stream";
    const QByteArray file = fileOf(stream);
    EXPECT_GE(file.size(), 1);
    EXPECT_EQ(stream.bytes, file.size());
    EXPECT_TRUE(file == FakeProvider::content(0, file.size()));
    for (const Recording &hls : outcome.hostile.mid(1)) {
        EXPECT_EQ(hls.status, Status::Failed) << "a body that never completes is never used";
        EXPECT_EQ(hls.bytes, 0);
    }
}

TEST_F(ManagerFaultTest, RecordingWaitingOnATricklingPlaylistStopsAtOnce)
{
    provider.serve(QStringLiteral("/trickle.m3u8"), FakeProvider::Answer::slowStream(1, 1000ms));
    const Recording stored = due(provider.url(QStringLiteral("/trickle.m3u8")).toString(),
                                 QStringLiteral("trickle.ts"), 3600s);
    storeIndex({stored});
    RecordingManager &m = makeManager();
    const quint16 port = startServer(m);
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requestCount(QStringLiteral("/trickle.m3u8")) == 1; }));
    testsupport::spin(1500ms);

    QElapsedTimer clock;
    clock.start();
    const auto stopped = apiRequest(port, "POST", ("/api/recordings/" + idText(stored.id) + "/stop").toUtf8());
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->status, 204);
    ASSERT_TRUE(testsupport::waitUntil([&] { return m.recording(stored.id)->status == Status::Stopped; }, 2s));
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }, 2s))
        << "the pending playlist request is dropped";
}

TEST_F(ManagerFaultTest, EndlessHeadersHoldUpNothing)
{
    // Header lines as fast as the recorder reads them, paced so that this
    // thread (which also runs the manager and the router) is not kept busy
    // by the fake itself. The API must answer throughout and after.
    provider.serve(QStringLiteral("/fast-head.ts"), FakeProvider::Answer::endlessHead(2ms, 32 * 1024));
    provider.serve(QStringLiteral("/fast-head.m3u8"), FakeProvider::Answer::endlessHead(2ms, 32 * 1024));
    provider.serve(QStringLiteral("/slow-head.ts"), FakeProvider::Answer::endlessHead(100ms, 64));
    const Outcome outcome = runBeside({provider.url(QStringLiteral("/fast-head.ts")).toString(),
                                       provider.url(QStringLiteral("/fast-head.m3u8")).toString(),
                                       provider.url(QStringLiteral("/slow-head.ts")).toString()});
    ASSERT_EQ(outcome.hostile.size(), 3);
    for (const Recording &r : outcome.hostile) {
        EXPECT_EQ(r.status, Status::Failed) << r.fileName.toStdString();
        EXPECT_EQ(r.bytes, 0);
        EXPECT_TRUE(r.errorMessage && !r.errorMessage->isEmpty());
    }
    // Once the provider goes away, every recorder thread ends.
    provider.closeConnections();
    RetiredRecorderThreads::waitForAll();
}

TEST_F(ManagerFaultTest, TenMegabytePlaylistsAreReadWithoutHoldingAnythingUp)
{
    // A media playlist padded to 10 MB with tags around three segments, and
    // a master playlist of 10 MB of variants whose last one is the best.
    QByteArray media = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:0\n";
    while (media.size() < 10 * 1024 * 1024)
        media += "#EXT-X-PROGRAM-DATE-TIME:2024-05-01T21:00:00.000Z\n";
    for (int n = 0; n < 3; ++n)
        media += "#EXTINF:1,\n/seg" + QByteArray::number(n) + ".ts\n";
    media += "#EXT-X-ENDLIST\n";
    provider.serve(QStringLiteral("/huge.m3u8"), FakeProvider::Answer::body(media));
    serveSegments(3);

    QByteArray master = "#EXTM3U\n";
    for (int n = 0; master.size() < 10 * 1024 * 1024; ++n)
        master += "#EXT-X-STREAM-INF:BANDWIDTH=1000\n/missing-" + QByteArray::number(n) + ".m3u8\n";
    master += "#EXT-X-STREAM-INF:BANDWIDTH=2000\n/best.m3u8\n";
    provider.serve(QStringLiteral("/huge-master.m3u8"), FakeProvider::Answer::body(master));
    provider.serve(QStringLiteral("/best.m3u8"),
                   FakeProvider::Answer::body("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n/seg1.ts\n#EXT-X-ENDLIST\n"));

    // Both end at their end lists, well before the end date.
    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = runBeside({provider.url(QStringLiteral("/huge.m3u8")).toString(),
                                       provider.url(QStringLiteral("/huge-master.m3u8")).toString()},
                                      10s);
    EXPECT_LT(clock.elapsed(), 15000);
    ASSERT_EQ(outcome.hostile.size(), 2);
    const Recording &media10 = outcome.hostile[0];
    EXPECT_EQ(media10.status, Status::Finished);
    EXPECT_EQ(fileOf(media10), segmentBody(0) + segmentBody(1) + segmentBody(2));
    const Recording &master10 = outcome.hostile[1];
    EXPECT_EQ(master10.status, Status::Finished);
    EXPECT_EQ(fileOf(master10), segmentBody(1)) << "the best variant of the long list";
    EXPECT_EQ(provider.requestCount(QStringLiteral("/missing-0.m3u8")), 0);
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
