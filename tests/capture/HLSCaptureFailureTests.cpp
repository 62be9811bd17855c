#include "RecorderFixture.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::spin;
using testsupport::waitUntil;

using HLSFailure = RecorderFixture;

TEST_F(HLSFailure, UnsupportedPlaylistsFailAtOnce)
{
    const QByteArray encrypted = "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\"\n#EXTINF:2,\na.ts\n";
    const QByteArray initialised = "#EXTM3U\n#EXT-X-MAP:URI=\"init.mp4\"\n#EXTINF:2,\na.ts\n";
    const QByteArray master = "#EXT-X-STREAM-INF:BANDWIDTH=1\nenc.m3u8\n";
    // A key other than NONE decides over an initialisation section.
    const QByteArray both = "#EXT-X-MAP:URI=\"init.mp4\"\n#EXT-X-KEY:METHOD=NONE\n#EXT-X-KEY:METHOD=AES-128\na.ts\n";
    const struct { const char *path; QByteArray body; const char *message; } cases[] = {
        {"/enc.m3u8", encrypted, "This channel is encrypted and cannot be recorded."},
        {"/master.m3u8", master, "This channel is encrypted and cannot be recorded."},
        {"/both.m3u8", both, "This channel is encrypted and cannot be recorded."},
        {"/fmp4.m3u8", initialised, "This channel uses a stream format that cannot be recorded yet."},
    };
    serveSegment(QStringLiteral("/a.ts"), 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        provider.serve(QString::fromUtf8(c.path), Answer::body(c.body));
        EXPECT_EQ(outcomeOf(QString::fromUtf8(c.path), timingWithLimit(30), 2s),
                  Outcome::failed(QString::fromUtf8(c.message)));
        EXPECT_EQ(readFile(filePath()), QByteArray());
    }
    EXPECT_EQ(provider.requestCount(QStringLiteral("/a.ts")), 0);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/enc.m3u8")), 2); // once, and once as the variant
}

TEST_F(HLSFailure, AFullProviderIsAskedAgainWithoutCounting)
{
    const QByteArray segment = FakeProvider::content(0, 1880);
    provider.serve(QStringLiteral("/chan.m3u8"), {Answer::status(509), Answer::status(509), Answer::status(509),
                                                  Answer::status(509), Answer::body(vod({"a.ts"}))});
    provider.serve(QStringLiteral("/a.ts"), {Answer::status(509), Answer::status(509),
                                             Answer::body(segment, "video/mp2t")});
    StreamRecorder::Timing timing = timingWithLimit(2);
    timing.retryDelay = 40ms;

    EXPECT_EQ(outcomeOf(QStringLiteral("/chan.m3u8"), timing), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), segment);
    const auto requests = provider.requests();
    ASSERT_EQ(requests.size(), 4 + 2 * 3);
    for (qsizetype i = 1; i < 5; ++i)
        EXPECT_GE(requests[i].receivedAt - requests[i - 1].receivedAt, 38ms) << "request " << i;
}

TEST_F(HLSFailure, RefusalsFailAfterTheFailureLimit)
{
    provider.serve(QStringLiteral("/refused.m3u8"), Answer::status(404));
    auto refused = record(QStringLiteral("/refused.m3u8"), timingWithLimit(5));
    ASSERT_TRUE(refused->waitForFinish());
    EXPECT_EQ(refused->finishes[0].outcome,
              Outcome::failed(QStringLiteral("The provider refused the stream (HTTP 404).")));
    EXPECT_EQ(provider.requestCount(QStringLiteral("/refused.m3u8")), 5);
    spin(100ms);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/refused.m3u8")), 5);
}

TEST_F(HLSFailure, MastersWithoutAUsableVariantAreCountedFailures)
{
    provider.serve(QStringLiteral("/none.m3u8"), Answer::body("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=5\n"));
    // A master playlist naming itself would otherwise be fetched without end.
    provider.serve(QStringLiteral("/self.m3u8"), Answer::body("#EXT-X-STREAM-INF:BANDWIDTH=5\nself.m3u8\n"));
    for (const QString &path : {QStringLiteral("/none.m3u8"), QStringLiteral("/self.m3u8")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(outcomeOf(path, timingWithLimit(3)),
                  Outcome::failed(QStringLiteral("The HLS playlist has no playable variant.")));
    }
    EXPECT_EQ(provider.requestCount(QStringLiteral("/none.m3u8")), 3);
    EXPECT_LE(provider.requestCount(QStringLiteral("/self.m3u8")), 10);
}

TEST_F(HLSFailure, AFailedSegmentLeavesTheRestForTheNextPass)
{
    // Every pass writes one segment and then fails on the next; the written
    // segment resets the count, so a limit of two is never reached.
    QByteArray expected = serveSegment(QStringLiteral("/a.ts"), 0);
    for (int i = 1; i < 4; ++i) {
        const QByteArray bytes = FakeProvider::content(i * 1000003LL, 1880);
        provider.serve(QStringLiteral("/s%1.ts").arg(i), {Answer::status(500), Answer::body(bytes, "video/mp2t")});
        expected += bytes;
    }
    provider.serve(QStringLiteral("/vod.m3u8"), Answer::body(vod({"a.ts", "s1.ts", "s2.ts", "s3.ts"})));

    EXPECT_EQ(outcomeOf(QStringLiteral("/vod.m3u8"), timingWithLimit(2)), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/vod.m3u8")), 4);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/a.ts")), 1);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(provider.requestCount(QStringLiteral("/s%1.ts").arg(i)), 2) << "segment " << i;
}

TEST_F(HLSFailure, OversizedAndIncompleteSegmentsAreFailedPassesKeepingWhatWasWritten)
{
    const QByteArray first = serveSegment(QStringLiteral("/a.ts"), 0);
    // Too large as announced, and too large as it streams in without a length.
    provider.serve(QStringLiteral("/big.ts"), {Answer::body(FakeProvider::content(0, 5000), "video/mp2t"),
                                               Answer::stream(5000)});
    provider.serve(QStringLiteral("/vod.m3u8"), Answer::body(vod({"a.ts", "big.ts"})));
    StreamRecorder::Timing timing = timingWithLimit(2);
    timing.maximumBodySize = 4096;

    EXPECT_EQ(outcomeOf(QStringLiteral("/vod.m3u8"), timing),
              Outcome::failed(QStringLiteral("The provider sent an HLS segment larger than 4096 bytes, "
                                             "which was not recorded.")));
    EXPECT_EQ(readFile(filePath()), first);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/big.ts")), 2);

    // A resource shorter than the range the playlist lists.
    QFile::remove(filePath());
    const QByteArray resource = FakeProvider::content(0, 1500);
    provider.serve(QStringLiteral("/all.ts"), Answer::body(resource, "video/mp2t"));
    provider.serve(QStringLiteral("/ranges.m3u8"),
                   Answer::body("#EXT-X-BYTERANGE:1000@0\nall.ts\n#EXT-X-BYTERANGE:1000\nall.ts\n#EXT-X-ENDLIST\n"));
    EXPECT_EQ(outcomeOf(QStringLiteral("/ranges.m3u8"), timingWithLimit(2)),
              Outcome::failed(QStringLiteral("The provider did not send the part of a segment that the playlist lists.")));
    EXPECT_EQ(readFile(filePath()), resource.left(1000));
}

TEST_F(HLSFailure, PlaylistLinesThatAreNotHttpAreNeverRead)
{
    const QString secret = folder.filePath(QStringLiteral("secret.ts"));
    testsupport::writeFile(secret, "local bytes that must not be copied");
    serveSegment(QStringLiteral("/later.ts"), 1);
    provider.serve(QStringLiteral("/vod.m3u8"),
                   Answer::body(vod({QUrl::fromLocalFile(secret).toString(), QStringLiteral("later.ts")})));

    EXPECT_EQ(outcomeOf(QStringLiteral("/vod.m3u8"), timingWithLimit(2)),
              Outcome::failed(QStringLiteral("Only http and https stream addresses can be recorded.")));
    EXPECT_EQ(readFile(filePath()), QByteArray());
    EXPECT_EQ(provider.requestCount(QStringLiteral("/later.ts")), 0);
}

TEST_F(HLSFailure, AnEndDuringASlowSegmentWritesNothingOfIt)
{
    const QByteArray first = serveSegment(QStringLiteral("/a.ts"), 1);
    provider.serve(QStringLiteral("/slow.ts"), Answer::slowStream(500, 50ms, 10000));
    serveSegment(QStringLiteral("/c.ts"), 3);
    provider.serve(QStringLiteral("/vod.m3u8"), Answer::body(vod({"a.ts", "slow.ts", "c.ts"})));

    // Ended by stop(), by an end date moved to now, and by dropping the recorder.
    enum class End { Stop, Extend, Destroy };
    for (const End end : {End::Stop, End::Extend, End::Destroy}) {
        SCOPED_TRACE(int(end));
        QFile::remove(filePath());
        const int slowRequests = provider.requestCount(QStringLiteral("/slow.ts"));
        auto probe = record(QStringLiteral("/vod.m3u8"));
        ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/slow.ts")) > slowRequests; }));
        spin(100ms);
        const auto endedAt = std::chrono::steady_clock::now();
        switch (end) {
        case End::Stop: probe->recorder().stop(); break;
        case End::Extend: probe->recorder().extend(fromNow(0ms)); break;
        case End::Destroy: probe->destroyRecorder(); break;
        }
        if (end != End::Destroy) {
            ASSERT_TRUE(probe->waitForFinish(2s));
            EXPECT_EQ(probe->finishes[0].outcome, end == End::Stop ? Outcome::stopped() : Outcome::finished());
            EXPECT_LT(probe->finishes[0].at - endedAt, 300ms);
            EXPECT_EQ(probe->finishes[0].bytes, first.size());
        }
        spin(150ms);
        EXPECT_EQ(probe->finishes.size(), end == End::Destroy ? 0 : 1);
        EXPECT_EQ(readFile(filePath()), first);
    }
    EXPECT_EQ(provider.requestCount(QStringLiteral("/c.ts")), 0);
    EXPECT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
}
