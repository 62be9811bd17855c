#include "RecorderFixture.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using testsupport::readFile;

using StreamRecorderRetry = RecorderFixture;

TEST_F(StreamRecorderRetry, AFullProviderIsAskedAgainUncountedUntilTheEndDate)
{
    provider.serve(QStringLiteral("/a.ts"), Answer::status(509));
    StreamRecorder::Timing timing = timingWithLimit(2);
    timing.providerFullRetryDelay = 80ms;
    timing.retryDelay = 5ms;

    auto probe = record(QStringLiteral("/a.ts"), timing, fromNow(800ms));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::failed(QStringLiteral("Every provider connection was in use.")));
    EXPECT_GE(probe->finishes[0].at - probe->createdAt, 750ms);
    const auto requests = provider.requests();
    EXPECT_GE(requests.size(), 4);
    EXPECT_LE(requests.size(), 11);
    for (const auto gap : gaps(requests))
        EXPECT_GE(gap, 75ms);
}

TEST_F(StreamRecorderRetry, AnAnswerAfterAFullProviderMakesFailuresCountAgain)
{
    provider.serve(QStringLiteral("/a.ts"), {Answer::status(509), Answer::status(509), Answer::stream(1000),
                                             Answer::status(404)});
    StreamRecorder::Timing timing = timingWithLimit(3);
    timing.providerFullRetryDelay = 150ms;
    timing.retryDelay = 10ms;

    auto probe = record(QStringLiteral("/a.ts"), timing);
    ASSERT_TRUE(probe->waitForFinish());
    // The end of the stream and two refusals make three counted failures.
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::failed(QStringLiteral("The provider refused the stream (HTTP 404).")));
    EXPECT_EQ(probe->finishes[0].bytes, 1000);
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, 1000));
    const auto requestGaps = gaps(provider.requests());
    ASSERT_EQ(requestGaps.size(), 4);
    EXPECT_GE(requestGaps[0], 140ms);
    EXPECT_GE(requestGaps[1], 140ms);
    EXPECT_LT(requestGaps[2], 140ms);
    EXPECT_LT(requestGaps[3], 140ms);
}

TEST_F(StreamRecorderRetry, AProviderThatFallsSilentTimesOut)
{
    // The first answer takes longer than the timeout but never pauses that long.
    provider.serve(QStringLiteral("/a.ts"), {Answer::slowStream(500, 100ms, 4000), Answer::silence()});
    StreamRecorder::Timing timing = timingWithLimit(3);
    timing.requestTimeout = 300ms;

    auto probe = record(QStringLiteral("/a.ts"), timing);
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::failed(QStringLiteral("The request timed out.")));
    EXPECT_EQ(probe->finishes[0].bytes, 4000);
    EXPECT_EQ(provider.requests().size(), 3);
    // Two silent attempts, each given up after the idle timeout.
    EXPECT_GE(probe->finishes[0].at - provider.requests()[1].receivedAt, 2 * 280ms);
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));
}

TEST_F(StreamRecorderRetry, AResponseHeadIsBoundedInSizeAndInTime)
{
    // Header lines as fast as the recorder takes them: read up to the limit.
    provider.serve(QStringLiteral("/fast-head.ts"), Answer::endlessHead(0ms, 4096));
    StreamRecorder::Timing timing = timingWithLimit(2);
    timing.retryDelay = 10ms;
    auto fast = record(QStringLiteral("/fast-head.ts"), timing);
    ASSERT_TRUE(fast->waitForFinish(5s));
    EXPECT_EQ(fast->finishes[0].outcome,
              Outcome::failed(QStringLiteral("The provider sent a response head longer than 65536 bytes.")));
    EXPECT_EQ(fast->finishes[0].bytes, 0);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/fast-head.ts")), 2);
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }, 3s));
    fast.reset();

    // Short lines that never stop coming count as silence: the head must be
    // complete within the idle timeout.
    provider.serve(QStringLiteral("/slow-head.ts"), Answer::endlessHead(20ms, 64));
    timing.requestTimeout = 300ms;
    auto slow = record(QStringLiteral("/slow-head.ts"), timing);
    ASSERT_TRUE(slow->waitForFinish(5s));
    EXPECT_EQ(slow->finishes[0].outcome, Outcome::failed(QStringLiteral("The request timed out.")));
    EXPECT_GE(slow->finishes[0].at - slow->createdAt, 2 * 280ms);
}

TEST_F(StreamRecorderRetry, RefusalsWithoutABodyAreOneAttemptEach)
{
    // The refusal's head and the end of its answer come together; the
    // attempt must end once, with one retry after the delay.
    provider.serve(QStringLiteral("/a.ts"), {Answer::body({}, "text/plain", 509), Answer::stream(3000),
                                             Answer::body({}, "text/plain", 404)});
    StreamRecorder::Timing timing = timingWithLimit(3);
    timing.providerFullRetryDelay = 60ms;
    timing.retryDelay = 60ms;

    auto probe = record(QStringLiteral("/a.ts"), timing);
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::failed(QStringLiteral("The provider refused the stream (HTTP 404).")));
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, 3000));
    // The 509, the stream, and two 404s after the end of the stream.
    EXPECT_EQ(provider.requests().size(), 4);
    for (const auto gap : gaps(provider.requests()))
        EXPECT_GE(gap, 55ms);
}
