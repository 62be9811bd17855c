#include "RecorderFixture.h"

// The HLS path: playlists polled and their segments written one after another.
using HLSCaptureTest = RecorderFixture;

TEST_F(HLSCaptureTest, ALiveWindowWritesEveryNewSegmentOnceInOrderAndCountsWhatItMissed)
{
    QByteArray expected;
    for (int i = 0; i < 12; ++i) {
        const QByteArray bytes = serveSegment(QStringLiteral("/live/s%1.ts").arg(i), i, 1880 + i);
        expected += i == 3 || i == 4 || i == 7 ? QByteArray() : bytes;
    }
    provider.serve(QStringLiteral("/live/s3.ts"), Answer::status(500));
    // The second poll sees the window unchanged; the third fails on segment 3, and by the fourth segments 3 and 4
    // have left it; the fifth jumps over segment 7; the sixth restarts the numbering, written from its first segment.
    provider.serve(QStringLiteral("/live/chan.m3u8"),
                   {Answer::body(playlist(0, {"s0.ts", "s1.ts", "s2.ts"})),
                    Answer::body(playlist(0, {"s0.ts", "s1.ts", "s2.ts"})),
                    Answer::body(playlist(1, {"s1.ts", "s2.ts", "s3.ts"})), Answer::body(playlist(5, {"s5.ts", "s6.ts"})),
                    Answer::body(playlist(8, {"s8.ts"})), Answer::body(playlist(0, {"s9.ts", "s10.ts"})),
                    Answer::body(playlist(1, {"s10.ts", "s11.ts"}, true))});

    // A line break in the user agent must not add a header line.
    userAgent = QStringLiteral("Agent/7\r\nX-Injected: yes");
    auto probe = record(QStringLiteral("/live/chan.m3u8"), timing());
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    // One loss, the failed pass, and three segments skipped; the test's clock stood still.
    EXPECT_EQ(probe->recorder->gaps(), (CaptureGaps{.reconnects = 1, .skippedSegments = 3}));
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(provider.requestCount(QStringLiteral("/live/s%1.ts").arg(i)), i == 4 || i == 7 ? 0 : 1) << i;
    const auto polls = provider.requests(QStringLiteral("/live/chan.m3u8"));
    ASSERT_EQ(polls.size(), 7);
    for (int i = 0; i < 6; ++i) // half the target duration of 0.1 s, or the retry delay after the failed pass
        EXPECT_GE(pauses(polls)[i], i == 2 ? 18ms : 45ms) << i;
    for (const auto &request : provider.requests())
        EXPECT_EQ(request.header("User-Agent"), "Agent/7  X-Injected: yes");
    EXPECT_FALSE(probe->progress.isEmpty());
}

TEST_F(HLSCaptureTest, AMasterIsFollowedAtOnceToItsBestVariantAndAddressesResolveAgainstTheRequestedOne)
{
    provider.serve(QStringLiteral("/live/chan.m3u8"), Answer::redirect("/edge/node1/master.m3u8?token=x"));
    provider.serve(QStringLiteral("/edge/node1/master.m3u8"),
                   Answer::body("#EXTM3U\n"
                                "#EXT-X-STREAM-INF:BANDWIDTH=300000\nlow/index.m3u8\n"
                                "#EXT-X-STREAM-INF:AVERAGE-BANDWIDTH=\"2000000\",BANDWIDTH=500000\n../hd/index.m3u8\n"
                                "#EXT-X-STREAM-INF:BANDWIDTH=900000\nmid/index.m3u8\n"));
    provider.serve(QStringLiteral("/hd/index.m3u8"), {Answer::body(playlist(0, {"a.ts", "../shared/b.ts"})),
                                                      Answer::body(playlist(1, {"../shared/b.ts", "/abs/c.ts"}, true))});
    const QByteArray expected = serveSegment(QStringLiteral("/hd/a.ts"), 1)
                              + serveSegment(QStringLiteral("/shared/b.ts"), 2)
                              + serveSegment(QStringLiteral("/abs/c.ts"), 3);

    EXPECT_EQ(outcomeOf(QStringLiteral("/live/chan.m3u8"), timing()), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    // The second variant wins by its average bandwidth, which comes first.
    const auto master = provider.requests(QStringLiteral("/edge/node1/master.m3u8"));
    ASSERT_EQ(master.size(), 1);
    EXPECT_EQ(master[0].target, "/edge/node1/master.m3u8?token=x");
    EXPECT_EQ(provider.requestCount(QStringLiteral("/hd/index.m3u8")), 2);
    // Without a target duration a wait would last 3 seconds.
    EXPECT_LT(pauses(provider.requests()).value(1), 1s);
}

TEST_F(HLSCaptureTest, ByteRangesAreWrittenExactlyWhileRecordingsFromTheSameHostAreStuck)
{
    // Sixteen recordings from the same host stuck meanwhile, eight of them in
    // a playlist's segment: none of them holds up the recordings below.
    provider.serve(QStringLiteral("/stuck.ts"), Answer::silence());
    provider.serve(QStringLiteral("/stuck.m3u8"), Answer::body(playlist(0, {"stuck.ts"})));
    std::vector<std::unique_ptr<RecorderProbe>> stuck;
    for (int i = 0; i < 16; ++i)
        stuck.push_back(record(i < 8 ? "/stuck.m3u8" : "/stuck.ts", timing(), QStringLiteral("stuck%1.ts").arg(i)));
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/stuck.ts")) == 16; }));

    const QByteArray resource = FakeProvider::content(0, 3000);
    provider.serve(QStringLiteral("/r/index.m3u8"), Answer::body("#EXTM3U\n#EXT-X-BYTERANGE:1000@0\nall.ts\n"
                                                                 "#EXT-X-BYTERANGE:1000\nall.ts\n"
                                                                 "#EXT-X-BYTERANGE:500@2500\nall.ts\n#EXT-X-ENDLIST\n"));
    const QByteArray expected = resource.left(2000) + resource.mid(2500);

    // A server that honours ranges, and one that answers with the whole resource.
    provider.serve(QStringLiteral("/r/all.ts"), {Answer::body(resource.mid(0, 1000), "video/mp2t", 206),
                                                 Answer::body(resource.mid(1000, 1000), "video/mp2t", 206),
                                                 Answer::body(resource.mid(2500, 500), "video/mp2t", 206)});
    EXPECT_EQ(outcomeOf(QStringLiteral("/r/index.m3u8"), timing()), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    QList<QByteArray> ranges;
    for (const auto &request : provider.requests(QStringLiteral("/r/all.ts")))
        ranges.append(request.header("Range"));
    EXPECT_EQ(ranges, (QList<QByteArray>{"bytes=0-999", "bytes=1000-1999", "bytes=2500-2999"}));

    provider.serve(QStringLiteral("/r/all.ts"), Answer::body(resource, "video/mp2t"));
    EXPECT_EQ(outcomeOf(QStringLiteral("/r/index.m3u8"), timing()), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);

    // A resource shorter than the ranges the playlist lists.
    provider.serve(QStringLiteral("/r/all.ts"), Answer::body(resource.left(1500), "video/mp2t"));
    EXPECT_EQ(outcomeOf(QStringLiteral("/r/index.m3u8"), timing(2)),
              Outcome::failed(QStringLiteral("The provider did not send the part of a segment that the playlist lists.")));
    EXPECT_EQ(readFile(filePath()), resource.left(1000));
}

TEST_F(HLSCaptureTest, UnusablePlaylistsAndSegmentsFailAtOnceOrAfterTheFailureLimit)
{
    const QString secret = filePath(QStringLiteral("secret.ts"));
    testsupport::writeFile(secret, "local bytes that must not be copied");
    serveSegment(QStringLiteral("/a.ts"), 1);
    const QString encrypted = QStringLiteral("This channel is encrypted and cannot be recorded.");
    const QString noVariant = QStringLiteral("The HLS playlist has no playable variant.");
    const struct { const char *path; Answer answer; QString message; int requests; } cases[] = {
        // These fail at the first playlist (enc.m3u8 is also the master's
        // variant); a key other than NONE decides over an initialisation section.
        {"/enc.m3u8", Answer::body("#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\"\n#EXTINF:2,\na.ts\n"), encrypted, 2},
        {"/master.m3u8", Answer::body("#EXT-X-STREAM-INF:BANDWIDTH=1\nenc.m3u8\n"), encrypted, 1},
        {"/both.m3u8", Answer::body("#EXT-X-MAP:URI=\"i.mp4\"\n#EXT-X-KEY:METHOD=NONE\n#EXT-X-KEY:METHOD=AES-128\na.ts\n"),
         encrypted, 1},
        {"/fmp4.m3u8", Answer::body("#EXTM3U\n#EXT-X-MAP:URI=\"init.mp4\"\n#EXTINF:2,\na.ts\n"),
         "This channel uses a stream format that cannot be recorded yet.", 1},
        // These are counted failures, up to the limit of three.
        {"/refused.m3u8", Answer::status(404), "The provider refused the stream (HTTP 404).", 3},
        {"/none.m3u8", Answer::body("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=5\n"), noVariant, 3},
        // A master playlist naming itself would otherwise be fetched without end.
        {"/self.m3u8", Answer::body("#EXT-X-STREAM-INF:BANDWIDTH=5\nself.m3u8\n"), noVariant, 7},
        // A segment line that is not http is never read, nor anything after it.
        {"/local.m3u8", Answer::body(vod({QUrl::fromLocalFile(secret).toString(), "a.ts"})),
         "Only http and https stream addresses can be recorded.", 3},
        // A segment too large as announced, then as it streams in without a length.
        {"/big.m3u8", Answer::body(vod({"big.ts"})),
         "The provider sent an HLS segment larger than 4096 bytes, which was not recorded.", 3},
    };
    provider.serve(QStringLiteral("/big.ts"), {Answer::body(FakeProvider::content(0, 5000), "video/mp2t"),
                                               Answer::stream(5000)});
    StreamRecorder::Timing timing = this->timing(3);
    timing.maximumBodySize = 4096;
    for (const auto &c : cases) {
        provider.serve(QString::fromLatin1(c.path), c.answer);
        EXPECT_EQ(outcomeOf(QString::fromLatin1(c.path), timing), Outcome::failed(c.message)) << c.path;
        EXPECT_EQ(readFile(filePath()), QByteArray()) << c.path;
    }
    spin(50ms); // more than the retry delay: nothing is asked after the outcome
    for (const auto &c : cases)
        EXPECT_EQ(provider.requestCount(QString::fromLatin1(c.path)), c.requests) << c.path;
    EXPECT_EQ(provider.requestCount(QStringLiteral("/big.ts")), 3);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/a.ts")), 0);
}

TEST_F(HLSCaptureTest, FullAnswersAreUncountedAndAFailedSegmentLeavesTheRestForTheNextPass)
{
    // Three full answers to the playlist, two to a segment: uncounted. Then
    // every pass writes one segment and fails on the next; the written
    // segment resets the count, so a limit of two is never reached.
    QByteArray expected = serveSegment(QStringLiteral("/a.ts"), 0);
    for (int i = 1; i < 4; ++i) {
        const QByteArray bytes = FakeProvider::content(i * 1000003LL, 1880);
        QList<Answer> answers = {Answer::status(500), Answer::body(bytes, "video/mp2t")};
        if (i == 1)
            answers = QList<Answer>{Answer::status(509), Answer::status(509)} + answers;
        provider.serve(QStringLiteral("/s%1.ts").arg(i), answers);
        expected += bytes;
    }
    provider.serve(QStringLiteral("/vod.m3u8"), {Answer::status(509), Answer::status(509), Answer::status(509),
                                                 Answer::body(vod({"a.ts", "s1.ts", "s2.ts", "s3.ts"}))});

    EXPECT_EQ(outcomeOf(QStringLiteral("/vod.m3u8"), timing(2)), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    const int requests[] = {1, 4, 2, 2};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(provider.requestCount(i ? QStringLiteral("/s%1.ts").arg(i) : QStringLiteral("/a.ts")), requests[i]) << i;
    const auto polls = provider.requests(QStringLiteral("/vod.m3u8"));
    ASSERT_EQ(polls.size(), 3 + 6);
    for (const auto pause : pauses(polls))
        EXPECT_GE(pause, 18ms); // the retry delay after each failed pass
}

TEST_F(HLSCaptureTest, AnEndDuringASlowSegmentWritesNothingOfIt)
{
    // The slow segment never ends: only the end of the recording can stop it.
    const QByteArray first = serveSegment(QStringLiteral("/a.ts"), 1);
    provider.serve(QStringLiteral("/slow.ts"), Answer::slowStream(500, 10ms));
    serveSegment(QStringLiteral("/c.ts"), 3);
    provider.serve(QStringLiteral("/vod.m3u8"), Answer::body(vod({"a.ts", "slow.ts", "c.ts"})));

    // Ended by stop(), by an end date moved to now, and by dropping the recorder.
    enum class End { Stop, Extend, Destroy };
    for (const End end : {End::Stop, End::Extend, End::Destroy}) {
        SCOPED_TRACE(int(end));
        QFile::remove(filePath());
        const qint64 sentBefore = provider.bytesSent(QStringLiteral("/slow.ts"));
        auto probe = record(QStringLiteral("/vod.m3u8"), timing());
        ASSERT_TRUE(waitUntil([&] { return provider.bytesSent(QStringLiteral("/slow.ts")) >= sentBefore + 2000; }));
        switch (end) {
        case End::Stop: probe->recorder->stop(); break;
        case End::Extend: probe->recorder->extend(later(0ms)); break;
        case End::Destroy: probe->recorder.reset(); break;
        }
        if (end != End::Destroy) {
            ASSERT_TRUE(probe->waitForFinish());
            EXPECT_EQ(probe->finishes[0].outcome, end == End::Stop ? Outcome::stopped() : Outcome::finished());
            EXPECT_EQ(probe->finishes[0].bytes, first.size());
        }
        ASSERT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
        EXPECT_EQ(probe->finishes.size(), end == End::Destroy ? 0 : 1);
        EXPECT_EQ(readFile(filePath()), first);
    }
    EXPECT_EQ(provider.requestCount(QStringLiteral("/c.ts")), 0);
}
