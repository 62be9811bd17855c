#include "RecorderFixture.h"

#include <QDir>

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
    auto probe = record(QStringLiteral("/live/1.ts"), timing, QStringLiteral("Agent/1\r\nX-Injected: yes"));
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/edge/1.ts")) >= 4; }));
    probe->recorder().stop();
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

    QFile::remove(filePath());
    provider.serve(QStringLiteral("/local.ts"), Answer::redirect("file:///etc/hostname"));
    EXPECT_EQ(outcomeOf(QStringLiteral("/local.ts"), this->timing(2)),
              Outcome::failed(QStringLiteral("Only http and https stream addresses can be recorded.")));
    EXPECT_EQ(readFile(filePath()), QByteArray());
}

TEST_F(StreamRecorderTest, TheContentTypeTellsAStreamFromAPageOrAPlaylist)
{
    enum class Kind { Page, Stream, Playlist };
    const struct { QByteArray type; Kind kind; } cases[] = {
        {"text/html", Kind::Page}, {"Text/Plain; charset=UTF-8", Kind::Page}, {"application/json", Kind::Page},
        {"application/octet-stream", Kind::Stream}, {"video/MP2T", Kind::Stream}, {"", Kind::Stream},
        {"application/vnd.apple.mpegurl", Kind::Playlist}, {"Application/X-MpegURL", Kind::Playlist},
        {"audio/mpegurl; charset=utf-8", Kind::Playlist},
    };
    // Segment addresses resolve against the stream address itself.
    const QByteArray segments = serveSegment(QStringLiteral("/live/a.ts"), 1) + serveSegment(QStringLiteral("/live/b.ts"), 2);
    const QByteArray page("<html><body>Your subscription has expired.</body></html>");
    // An error page sent with a success status is never written, and counts
    // like any refusal: the limit of attempts in a row ends it. A playlist
    // is captured as HLS from the same address (asked again as a playlist),
    // and its end list ends the recording.
    const Outcome outcomes[] = {
        Outcome::failed(QStringLiteral("The provider answered with a page instead of a stream.")),
        Outcome::failed(QStringLiteral("The provider refused the stream (HTTP 404).")), Outcome::finished()};
    const int requests[] = {3, 3, 2};
    StreamRecorder::Timing timing = this->timing(3);
    timing.retryDelay = 1ms;
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const auto &c = cases[i];
        SCOPED_TRACE(c.type.toStdString());
        const QString path = QStringLiteral("/live/%1.ts").arg(i);
        const QByteArray stream = FakeProvider::content(i * 7919, 1880);
        switch (c.kind) {
        case Kind::Page: provider.serve(path, Answer::body(page, c.type)); break;
        case Kind::Stream: provider.serve(path, {Answer::body(stream, c.type), Answer::status(404)}); break;
        case Kind::Playlist: provider.serve(path, Answer::body(vod({"a.ts", "b.ts"}), c.type)); break;
        }
        QFile::remove(filePath());
        EXPECT_EQ(outcomeOf(path, timing), outcomes[int(c.kind)]);
        EXPECT_EQ(readFile(filePath()), c.kind == Kind::Page ? QByteArray() : c.kind == Kind::Stream ? stream : segments);
        EXPECT_EQ(provider.requestCount(path), requests[int(c.kind)]);
    }
}

TEST_F(StreamRecorderTest, FullProviderAnswersAreUncountedAndAnAnswerMakesFailuresCountAgain)
{
    // The same with refusals whose head and end come together, each still one attempt.
    for (const bool withBody : {true, false}) {
        SCOPED_TRACE(withBody);
        const QString path = withBody ? QStringLiteral("/a.ts") : QStringLiteral("/b.ts");
        const auto refusal = [&](int code) { return withBody ? Answer::status(code) : Answer::body({}, "text/plain", code); };
        provider.serve(path, {refusal(509), refusal(509), refusal(509), Answer::stream(1000), refusal(404)});
        StreamRecorder::Timing timing = this->timing(2);
        timing.providerFullRetryDelay = 20ms;
        timing.retryDelay = 1ms;
        QFile::remove(filePath());

        // Three full answers in a row do not reach the limit of two; the end
        // of the stream and the refusal after it do.
        EXPECT_EQ(outcomeOf(path, timing), Outcome::failed(QStringLiteral("The provider refused the stream (HTTP 404).")));
        EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, 1000));
        const auto requestPauses = pauses(provider.requests(path));
        ASSERT_EQ(requestPauses.size(), 4);
        for (int i = 0; i < 3; ++i)
            EXPECT_GE(requestPauses[i], 18ms) << "after full answer " << i;
    }

    // A provider full until the end date ends the recording with that reason.
    provider.serve(QStringLiteral("/full.ts"), Answer::status(509));
    auto full = record(QStringLiteral("/full.ts"), timing(2));
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/full.ts")) == 3; }));
    advance(1min);
    ASSERT_TRUE(full->waitForFinish());
    EXPECT_EQ(full->finishes[0].outcome, Outcome::failed(QStringLiteral("Every provider connection was in use.")));
}

TEST_F(StreamRecorderTest, SilenceAndEndlessHeadsTimeOutAndLongHeadsAreCutOff)
{
    // The first answer lasts longer than the timeout but never pauses that
    // long; the second is silent.
    provider.serve(QStringLiteral("/silent.ts"), {Answer::slowStream(500, 40ms, 3000), Answer::silence()});
    // Short header lines that never stop count as silence.
    provider.serve(QStringLiteral("/slow-head.ts"), Answer::endlessHead(20ms, 64));
    // Header lines as fast as the recorder takes them are read up to a limit.
    provider.serve(QStringLiteral("/fast-head.ts"), Answer::endlessHead(0ms, 4096));
    const struct { const char *path; int attempts; qint64 bytes; const char *message; } cases[] = {
        {"/silent.ts", 2, 3000, "The request timed out."},
        {"/slow-head.ts", 1, 0, "The request timed out."},
        {"/fast-head.ts", 1, 0, "The provider sent a response head longer than 65536 bytes."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        StreamRecorder::Timing timing = this->timing(c.attempts);
        timing.requestTimeout = 200ms; // well above the interval at which a batched stream is read
        QFile::remove(filePath());
        EXPECT_EQ(outcomeOf(QString::fromLatin1(c.path), timing), Outcome::failed(QString::fromLatin1(c.message)));
        EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, c.bytes));
        EXPECT_EQ(provider.requestCount(QString::fromLatin1(c.path)), c.attempts);
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
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(probe->recorder().gaps(), (CaptureGaps{.reconnects = 2, .missingMilliseconds = 60000}));
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, 50000));
}

TEST_F(StreamRecorderTest, ATrickleReachesTheFileWriteByWriteWithProgressOncePerInterval)
{
    // Far less than a batch per write, and a pause after each: every write
    // is in the file before the next is sent, not held until a batch gathers.
    provider.serve(QStringLiteral("/trickle.ts"), Answer::slowStream(1000, 150ms));
    const QString path = folder.filePath(QStringLiteral("new/deeper/show.ts")); // in folders to be made
    StreamRecorder::Timing timing = this->timing();
    timing.progressInterval = 10min;
    RecorderProbe probe(provider.url(QStringLiteral("/trickle.ts")), path, later(), timing);
    ASSERT_TRUE(probe.recorder().start());
    const auto written = [&](qint64 writes) {
        return waitUntil([&] { return QFileInfo(path).size() >= writes * 1000; })
            && provider.bytesSent(QStringLiteral("/trickle.ts")) == writes * 1000;
    };
    // The first report comes at once, the next once the interval has passed.
    ASSERT_TRUE(written(1));
    ASSERT_TRUE(written(2));
    advance(10min);
    ASSERT_TRUE(written(3));
    advance(10min - 1ms);
    ASSERT_TRUE(written(4));

    // An end date moved into the past ends the recording at once.
    probe.recorder().extend(later(-5s));
    ASSERT_TRUE(probe.waitForFinish());
    EXPECT_EQ(probe.finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(probe.progress, (QList<qint64>{1000, 3000}));
    EXPECT_TRUE(probe.mainThread);
    EXPECT_EQ(readFile(path), FakeProvider::content(0, probe.finishes[0].bytes));
    EXPECT_EQ(probe.recorder().gaps(), CaptureGaps{});
}

TEST_F(StreamRecorderTest, EveryRecordingHasOneOutcomeOrNoneWhenUnopenedOrDestroyed)
{
    provider.serve(QStringLiteral("/silent.ts"), Answer::silence());
    provider.serve(QStringLiteral("/slow.ts"), Answer::slowStream(1000, 10ms));
    provider.serve(QStringLiteral("/refused.ts"), Answer::status(404));
    std::vector<std::unique_ptr<RecorderProbe>> probes;
    QList<RecorderProbe *> silent; // those that must never report an outcome
    const auto add = [&](const char *path, const QDateTime &endDate, const StreamRecorder::Timing &timing) {
        probes.push_back(std::make_unique<RecorderProbe>(provider.url(QString::fromLatin1(path)),
                                                         filePath(QStringLiteral("%1.ts").arg(probes.size())), endDate, timing));
        EXPECT_TRUE(probes.back()->recorder().start());
        return probes.back().get();
    };

    // None when the file cannot be opened, and nothing is asked then.
    testsupport::writeFile(filePath(QStringLiteral("plain-file")), "x");
    QDir(folder.path()).mkdir(QStringLiteral("a-folder"));
    for (const QString &path : {filePath(QStringLiteral("plain-file/show.ts")), filePath(QStringLiteral("a-folder"))}) {
        silent.append(probes.emplace_back(std::make_unique<RecorderProbe>(provider.url("/a.ts"), path, later(), timing())).get());
        QString description;
        EXPECT_FALSE(silent.last()->recorder().start(&description)) << path.toStdString();
        EXPECT_FALSE(description.isEmpty());
    }
    EXPECT_TRUE(provider.requests().isEmpty());
    EXPECT_EQ(readFile(filePath(QStringLiteral("plain-file"))), "x");

    // Stopped twice while nothing came.
    RecorderProbe *stopped = add("/silent.ts", later(), timing());
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/silent.ts")) == 1; }));
    stopped->recorder().stop();
    stopped->recorder().stop();
    ASSERT_TRUE(stopped->waitForFinish());
    EXPECT_EQ(stopped->finishes[0].outcome, Outcome::stopped());

    // Stopped and moved into the past after the end timer fired, here on the system clock.
    StreamRecorder::Timing systemClock = timing();
    systemClock.now = {};
    RecorderProbe *ended = add("/slow.ts", QDateTime::currentDateTimeUtc().addMSecs(50), systemClock);
    ASSERT_TRUE(ended->waitForFinish());
    EXPECT_EQ(ended->finishes[0].outcome, Outcome::finished());
    ended->recorder().stop();
    ended->recorder().extend(QDateTime::currentDateTimeUtc().addSecs(-1));

    // A stop, the end timer and a failure racing one another.
    systemClock.retryDelay = 0ms;
    systemClock.failureLimit = 1;
    for (int i = 0; i < 24; ++i) {
        RecorderProbe *racing = add("/refused.ts", QDateTime::currentDateTimeUtc().addMSecs(i % 4), systemClock);
        if (i % 2 == 0)
            spin(std::chrono::milliseconds(i % 3));
        racing->recorder().stop();
    }

    // Stopped and destroyed at once: the posted outcome is never delivered.
    RecorderProbe *destroyed = add("/slow.ts", later(), timing());
    ASSERT_TRUE(waitUntil([&] { return !destroyed->progress.isEmpty(); }));
    destroyed->recorder().stop();
    destroyed->destroyRecorder();
    silent.append(destroyed);
    // The recording manager lets go of a recorder from inside its outcome.
    RecorderProbe *finishing = add("/slow.ts", later(), timing());
    finishing->recorder().onFinish = [&](const Outcome &outcome, qint64 bytes) {
        finishing->destroyRecorder();
        finishing->finishes.append({outcome, bytes});
    };
    finishing->recorder().stop();

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
        {"http://p.example/live/u/p/1.ts", false}, {"http://p.example/hls/INDEX.M3U8", true},
        {"http://p.example/play?file=index.m3u8&x=1", false}, {"http://p.example/play?name=a.m3u8?b", true},
        {"http://p.example/m3u8", false},
    };
    for (const auto &[text, hls] : cases)
        EXPECT_EQ(StreamRecorder::isHLSAddress(QUrl(QString::fromLatin1(text))), hls) << text;
}
