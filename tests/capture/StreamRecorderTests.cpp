#include "RecorderFixture.h"

#include <QDir>
#include <QFileInfo>

// The direct path: one live stream read into one file, with reconnects.
using StreamRecorderTest = RecorderFixture;

TEST_F(StreamRecorderTest, FollowsRedirectsOnHttpOnlyAndContinuesTheFileAcrossDrops)
{
    const QByteArray earlier("bytes of an earlier run\n");
    testsupport::writeFile(filePath(), earlier);
    provider.serve(QStringLiteral("/live/1.ts"), Answer::redirect("/edge/1.ts?token=abc"));
    provider.serve(QStringLiteral("/edge/1.ts"), Answer::stream(30000));
    StreamRecorder::Timing timing = this->timing(2); // drops after data never use it up
    timing.retryDelay = 30ms;

    // A line break in the user agent must not add a header line.
    userAgent = QStringLiteral("Agent/1\r\nX-Injected: yes");
    auto probe = record(QStringLiteral("/live/1.ts"), timing);
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/edge/1.ts")) >= 4; }));
    probe->recorder->stop();
    ASSERT_TRUE(probe->waitForFinish());
    // Nothing is written after the outcome, even while the connection closes.
    ASSERT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::stopped());
    EXPECT_GE(probe->finishes[0].bytes, 3 * 30000);
    EXPECT_EQ(readFile(filePath()), earlier + FakeProvider::content(0, probe->finishes[0].bytes));
    const auto edge = provider.requests(QStringLiteral("/edge/1.ts"));
    EXPECT_EQ(edge[0].target, "/edge/1.ts?token=abc");
    EXPECT_EQ(edge[0].header("User-Agent"), "Agent/1  X-Injected: yes");
    for (const auto pause : pauses(edge))
        EXPECT_GE(pause, 25ms);

    provider.serve(QStringLiteral("/local.ts"), Answer::redirect("file:///etc/hostname"));
    EXPECT_EQ(outcomeOf(QStringLiteral("/local.ts"), this->timing(2)),
              Outcome::failed(QStringLiteral("Only http and https stream addresses can be recorded.")));
    EXPECT_EQ(readFile(filePath()), QByteArray());
}

TEST_F(StreamRecorderTest, TheAnswersDecideWhatIsWrittenAndHowManyAttemptsAreMade)
{
    // Segment addresses resolve against the stream address itself.
    const QByteArray segments = serveSegment(QStringLiteral("/live/a.ts"), 1) + serveSegment(QStringLiteral("/live/b.ts"), 2);
    const QByteArray stream = FakeProvider::content(0, 1880);
    const auto pageAs = [](const QByteArray &type) { return QList<Answer>{Answer::body("<html>Expired.</html>", type)}; };
    const auto streamAs = [&](const QByteArray &type) { return QList<Answer>{Answer::body(stream, type), Answer::status(404)}; };
    const auto playlistAs = [&](const QByteArray &type) { return QList<Answer>{Answer::body(vod({"a.ts", "b.ts"}), type)}; };
    const auto empty = [](int code) { return Answer::body({}, "text/plain", code); };
    const Outcome page = Outcome::failed(QStringLiteral("The provider answered with a page instead of a stream."));
    const Outcome refused = Outcome::failed(QStringLiteral("The provider refused the stream (HTTP 404)."));
    const Outcome timedOut = Outcome::failed(QStringLiteral("The request timed out."));
    const struct { QList<Answer> answers; Outcome outcome; int requests; QByteArray file; } cases[] = {
        // An error page sent with a success status is never written, and
        // counts like any refusal: the limit of three attempts ends it.
        {pageAs("text/html"), page, 3, {}}, {pageAs("Text/Plain; charset=UTF-8"), page, 3, {}},
        {pageAs("application/json"), page, 3, {}},
        // Other types, or none, are written as they come.
        {streamAs("application/octet-stream"), refused, 3, stream}, {streamAs("video/MP2T"), refused, 3, stream},
        {streamAs(""), refused, 3, stream},
        // A playlist is captured as HLS from the same address (asked again as
        // a playlist), and its end list ends the recording.
        {playlistAs("application/vnd.apple.mpegurl"), Outcome::finished(), 2, segments},
        {playlistAs("Application/X-MpegURL"), Outcome::finished(), 2, segments},
        {playlistAs("audio/mpegurl; charset=utf-8"), Outcome::finished(), 2, segments},
        // Full answers are not counted, and data makes failures count again;
        // the same with refusals whose head and end come together, each still one attempt.
        {{Answer::status(509), Answer::status(509), Answer::status(509), Answer::stream(1000), Answer::status(404)},
         refused, 6, FakeProvider::content(0, 1000)},
        {{empty(509), empty(509), empty(509), Answer::stream(1000), empty(404)}, refused, 6, FakeProvider::content(0, 1000)},
        // Longer than the timeout but never pausing that long, then silent; and
        // short header lines that never stop, which count as silence.
        {{Answer::slowStream(500, 40ms, 3000), Answer::silence()}, timedOut, 3, FakeProvider::content(0, 3000)},
        {{Answer::endlessHead(20ms, 64)}, timedOut, 3, {}},
    };
    StreamRecorder::Timing timing = this->timing(3);
    timing.retryDelay = 1ms;
    timing.providerFullRetryDelay = 20ms;
    timing.requestTimeout = 200ms; // well above the interval at which a batched stream is read
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(i);
        const QString path = QStringLiteral("/live/%1.ts").arg(i);
        provider.serve(path, cases[i].answers);
        EXPECT_EQ(outcomeOf(path, timing), cases[i].outcome);
        EXPECT_EQ(readFile(filePath()), cases[i].file);
        EXPECT_EQ(provider.requestCount(path), cases[i].requests);
        for (qsizetype k = 0; k < 3 && cases[i].answers[0].code == 509; ++k)
            EXPECT_GE(pauses(provider.requests(path)).value(k), 18ms) << "after full answer " << k;
        EXPECT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
    }
}

TEST_F(StreamRecorderTest, GapsLastFromTheLossToTheNextByteOrToTheEnd)
{
    // A dropped connection followed by full-provider answers is one gap,
    // however many attempts it takes; the full answers are not counted.
    provider.serve(QStringLiteral("/a.ts"), {Answer::stream(20000), Answer::status(509)});
    StreamRecorder::Timing timing = this->timing(2);
    timing.providerFullRetryDelay = 5ms;
    auto probe = record(QStringLiteral("/a.ts"), timing);
    // Beside it, a provider full until the end date, which ends with that reason.
    provider.serve(QStringLiteral("/full.ts"), Answer::status(509));
    auto full = record(QStringLiteral("/full.ts"), timing, QStringLiteral("full.ts"));
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/a.ts")) >= 5; }));
    advance(7s);
    const int before = provider.requestCount(QStringLiteral("/a.ts"));
    provider.serve(QStringLiteral("/a.ts"), {Answer::stream(30000), Answer::status(509)});
    ASSERT_TRUE(waitUntil([&] {
        return provider.requestCount(QStringLiteral("/a.ts")) >= before + 2 && !probe->gapsClosed.isEmpty();
    }));
    EXPECT_EQ(probe->gapsClosed, QList<qint64>{7000});

    // The second gap is still open when the clock reaches the end date.
    EXPECT_TRUE(probe->finishes.isEmpty());
    advance(53s);
    ASSERT_TRUE(probe->waitForFinish() && full->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(full->finishes[0].outcome, Outcome::failed(QStringLiteral("Every provider connection was in use.")));
    EXPECT_GE(provider.requestCount(QStringLiteral("/full.ts")), 3);
    EXPECT_EQ(probe->recorder->gaps(), (CaptureGaps{.reconnects = 2, .missingMilliseconds = 60000}));
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, 50000));
}

TEST_F(StreamRecorderTest, ATrickleReachesTheFileWriteByWriteWithProgressOncePerInterval)
{
    // Far less than a batch per write, and a pause after each: every write
    // is in the file before the next is sent, not held until a batch gathers.
    provider.serve(QStringLiteral("/trickle.ts"), Answer::slowStream(1000, 200ms));
    StreamRecorder::Timing timing = this->timing();
    timing.progressInterval = 10min;
    const QString file = QStringLiteral("new/deeper/show.ts"); // in folders to be made
    auto probe = record(QStringLiteral("/trickle.ts"), timing, file);
    const auto written = [&](qint64 writes) {
        return waitUntil([&] { return QFileInfo(filePath(file)).size() >= writes * 1000; })
            && provider.bytesSent(QStringLiteral("/trickle.ts")) == writes * 1000;
    };
    // The first report comes at once, the next once the interval has passed.
    ASSERT_TRUE(written(1) && written(2));
    advance(10min);
    ASSERT_TRUE(written(3));
    advance(10min - 1ms);
    ASSERT_TRUE(written(4));

    // An end date moved into the past ends the recording at once.
    probe->recorder->extend(later(-5s));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(probe->progress, (QList<qint64>{1000, 3000}));
    EXPECT_TRUE(probe->mainThread);
    EXPECT_EQ(readFile(filePath(file)), FakeProvider::content(0, probe->finishes[0].bytes));
    EXPECT_EQ(probe->recorder->gaps(), CaptureGaps{});
}

TEST_F(StreamRecorderTest, EveryRecordingHasOneOutcomeOrNoneWhenUnopenedOrDestroyed)
{
    provider.serve(QStringLiteral("/silent.ts"), Answer::silence());
    provider.serve(QStringLiteral("/slow.ts"), Answer::slowStream(1000, 10ms));
    provider.serve(QStringLiteral("/refused.ts"), Answer::status(404));
    std::vector<std::unique_ptr<RecorderProbe>> probes;
    QList<RecorderProbe *> silent; // those that must never report an outcome
    const auto add = [&](const QString &path, const QDateTime &endDate, const StreamRecorder::Timing &timing) {
        probes.push_back(record(path, timing, QStringLiteral("%1.ts").arg(probes.size()), endDate));
        return probes.back().get();
    };

    // None when the file cannot be opened, and nothing is asked then.
    testsupport::writeFile(filePath(QStringLiteral("plain-file")), "x");
    QDir(folder.path()).mkdir(QStringLiteral("a-folder"));
    for (const QString &path : {filePath(QStringLiteral("plain-file/show.ts")), filePath(QStringLiteral("a-folder"))}) {
        silent.append(probes.emplace_back(std::make_unique<RecorderProbe>(provider.url("/a.ts"), path, later(), timing())).get());
        QString description;
        EXPECT_FALSE(silent.last()->recorder->start(&description)) << path.toStdString();
        EXPECT_FALSE(description.isEmpty());
    }
    EXPECT_TRUE(provider.requests().isEmpty());
    EXPECT_EQ(readFile(filePath(QStringLiteral("plain-file"))), "x");

    // Stopped twice while nothing came.
    RecorderProbe *stopped = add("/silent.ts", later(), timing());
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/silent.ts")) == 1; }));
    stopped->recorder->stop();
    stopped->recorder->stop();
    ASSERT_TRUE(stopped->waitForFinish());
    EXPECT_EQ(stopped->finishes[0].outcome, Outcome::stopped());

    // Stopped and moved into the past after the end timer fired, here on the system clock.
    StreamRecorder::Timing systemClock = timing();
    systemClock.now = {};
    RecorderProbe *ended = add("/slow.ts", QDateTime::currentDateTimeUtc().addMSecs(50), systemClock);
    ASSERT_TRUE(ended->waitForFinish());
    EXPECT_EQ(ended->finishes[0].outcome, Outcome::finished());
    ended->recorder->stop();
    ended->recorder->extend(QDateTime::currentDateTimeUtc().addSecs(-1));

    // A stop, the end timer and a failure racing one another.
    systemClock.retryDelay = 0ms;
    systemClock.failureLimit = 1;
    for (int i = 0; i < 24; ++i) {
        RecorderProbe *racing = add("/refused.ts", QDateTime::currentDateTimeUtc().addMSecs(i % 4), systemClock);
        if (i % 2 == 0)
            spin(std::chrono::milliseconds(i % 3));
        racing->recorder->stop();
    }

    // Stopped and destroyed at once: the posted outcome is never delivered.
    RecorderProbe *destroyed = add("/slow.ts", later(), timing());
    ASSERT_TRUE(waitUntil([&] { return !destroyed->progress.isEmpty(); }));
    destroyed->recorder->stop();
    destroyed->recorder.reset();
    silent.append(destroyed);
    // The recording manager lets go of a recorder from inside its outcome.
    RecorderProbe *finishing = add("/slow.ts", later(), timing());
    finishing->recorder->onFinish = [&](const Outcome &outcome, qint64 bytes) {
        finishing->recorder.reset();
        finishing->finishes.append({outcome, bytes});
    };
    finishing->recorder->stop();

    for (auto &probe : probes)
        ASSERT_TRUE(silent.contains(probe.get()) || probe->waitForFinish());
    ASSERT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
    spin(50ms);
    for (auto &probe : probes)
        EXPECT_EQ(probe->finishes.size(), silent.contains(probe.get()) ? 0 : 1);
}

TEST(StreamRecorderAddress, PlaylistAddressesAreTakenForHLS)
{
    const QList<std::pair<const char *, bool>> cases = {
        {"http://p.example/hls/INDEX.M3U8", true}, {"http://p.example/play?file=index.m3u8&x=1", false},
        {"http://p.example/play?name=a.m3u8?b", true}, {"http://p.example/m3u8", false},
    };
    for (const auto &[text, hls] : cases)
        EXPECT_EQ(StreamRecorder::isHLSAddress(QUrl(QString::fromLatin1(text))), hls) << text;
}
