#include "RecorderFixture.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using testsupport::readFile;

// What a capture missed, driven through the provider: a dropped connection,
// a run of refusals from a full provider, and HLS segments that left the
// playlist before they were fetched.
using CaptureGapsTest = RecorderFixture;

TEST_F(CaptureGapsTest, ADroppedConnectionIsOneGapLastingUntilTheNextByte)
{
    provider.serve(QStringLiteral("/a.ts"), {Answer::stream(50000), Answer::slowStream(1880, 20ms)});
    StreamRecorder::Timing timing = fastTiming();
    timing.retryDelay = 300ms;

    auto probe = record(QStringLiteral("/a.ts"), timing, fromNow(1200ms));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    const CaptureGaps gaps = probe->recorder().gaps();
    EXPECT_EQ(gaps.reconnects, 1);
    EXPECT_GE(gaps.missingMilliseconds, 300);
    EXPECT_LT(gaps.missingMilliseconds, 1000);
    EXPECT_EQ(gaps.skippedSegments, 0);
    EXPECT_GT(probe->finishes[0].bytes, 50000);
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, probe->finishes[0].bytes));
}

TEST_F(CaptureGapsTest, ARunOfFullProviderAnswersIsOneGapAndAStreamWithoutLossesNone)
{
    provider.serve(QStringLiteral("/a.ts"), {Answer::stream(20000), Answer::status(509), Answer::status(509),
                                             Answer::status(509), Answer::slowStream(1880, 20ms)});
    provider.serve(QStringLiteral("/b.ts"), Answer::slowStream(1880, 20ms));
    StreamRecorder::Timing timing = fastTiming();
    timing.retryDelay = 10ms;
    timing.providerFullRetryDelay = 150ms;

    auto full = record(QStringLiteral("/a.ts"), timing, fromNow(1500ms));
    auto steady = record(QStringLiteral("/b.ts"), timing, fromNow(500ms));
    ASSERT_TRUE(full->waitForFinish());
    ASSERT_TRUE(steady->waitForFinish());
    EXPECT_EQ(full->finishes[0].outcome, Outcome::finished());
    // Four attempts after the loss, one gap: from the end of the first
    // stream through three refusals to the bytes of the fifth answer.
    EXPECT_EQ(provider.requestCount(QStringLiteral("/a.ts")), 5);
    EXPECT_EQ(full->recorder().gaps().reconnects, 1);
    EXPECT_GE(full->recorder().gaps().missingMilliseconds, 3 * 150 + 10);
    EXPECT_LT(full->recorder().gaps().missingMilliseconds, 1400);
    EXPECT_EQ(steady->recorder().gaps(), CaptureGaps{});
}

TEST_F(CaptureGapsTest, AGapOpenAtTheEndLastsUntilTheEnd)
{
    provider.serve(QStringLiteral("/a.ts"), {Answer::stream(20000), Answer::status(503)});
    StreamRecorder::Timing timing = fastTiming();
    timing.retryDelay = 50ms;

    auto probe = record(QStringLiteral("/a.ts"), timing, fromNow(600ms));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].bytes, 20000);
    EXPECT_EQ(probe->recorder().gaps().reconnects, 1);
    EXPECT_GE(probe->recorder().gaps().missingMilliseconds, 400);
}

TEST_F(CaptureGapsTest, HLSSegmentsThatLeftThePlaylistUnfetchedAreCountedOnce)
{
    // The second pass fails on segment 1; by the next pass segments 1 and 2
    // have left the playlist, then a later pass jumps from 4 to 7.
    serveSegment(QStringLiteral("/s0.ts"), 0);
    provider.serve(QStringLiteral("/s1.ts"), Answer::status(500));
    for (int n = 3; n <= 8; ++n)
        serveSegment(QStringLiteral("/s%1.ts").arg(n), n);
    provider.serve(QStringLiteral("/live.m3u8"),
                   {Answer::body(playlist(0, {"s0.ts"})), Answer::body(playlist(0, {"s0.ts", "s1.ts"})),
                    Answer::body(playlist(3, {"s3.ts", "s4.ts"})), Answer::body(playlist(3, {"s3.ts", "s4.ts"})),
                    Answer::body(playlist(7, {"s7.ts", "s8.ts"}, "0.1", true))});

    auto probe = record(QStringLiteral("/live.m3u8"));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    const CaptureGaps gaps = probe->recorder().gaps();
    EXPECT_EQ(gaps.skippedSegments, 2 + 2);
    EXPECT_EQ(gaps.reconnects, 1);
    EXPECT_GE(gaps.missingMilliseconds, fastTiming().retryDelay.count());
    QByteArray expected;
    for (int n : {0, 3, 4, 7, 8})
        expected += FakeProvider::content(n * 1000003LL, 1880);
    EXPECT_EQ(readFile(filePath()), expected);
}

TEST_F(CaptureGapsTest, ARestartedHLSNumberingIsNoSkip)
{
    serveSegment(QStringLiteral("/a.ts"), 1);
    serveSegment(QStringLiteral("/b.ts"), 2);
    provider.serve(QStringLiteral("/live.m3u8"), {Answer::body(playlist(100, {"a.ts"})),
                                                  Answer::body(playlist(0, {"b.ts"}, "0.1", true))});

    auto probe = record(QStringLiteral("/live.m3u8"));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(probe->recorder().gaps(), CaptureGaps{});
}
