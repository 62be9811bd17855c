#include "RecorderFixture.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::spin;
using testsupport::waitUntil;
using Clock = std::chrono::steady_clock;

namespace {

class StreamRecorderLifecycle : public RecorderFixture
{
protected:
    void SetUp() override
    {
        provider.serve(QStringLiteral("/slow.ts"), Answer::slowStream(1000, 10ms));
        provider.serve(QStringLiteral("/silent.ts"), Answer::silence());
        provider.serve(QStringLiteral("/refused.ts"), Answer::status(404));
    }
};

} // namespace

TEST_F(StreamRecorderLifecycle, StopGivesStoppedOnceEvenWithoutDataAndNothingAfterTheEnd)
{
    auto recording = record(QStringLiteral("/silent.ts"));
    ASSERT_TRUE(waitUntil([&] { return provider.requests().size() == 1; }));
    recording->recorder().stop();
    recording->recorder().stop();
    ASSERT_TRUE(recording->waitForFinish());
    spin(200ms);
    ASSERT_EQ(recording->finishes.size(), 1);
    EXPECT_EQ(recording->finishes[0].outcome, Outcome::stopped());
    EXPECT_EQ(recording->finishes[0].bytes, 0);
    EXPECT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));

    // Nor does a stop or an end date in the past after the end timer fired.
    auto ended = record(QStringLiteral("/slow.ts"), fastTiming(), fromNow(200ms));
    ASSERT_TRUE(ended->waitForFinish());
    ended->recorder().stop();
    ended->recorder().extend(fromNow(-1s));
    spin(200ms);
    ASSERT_EQ(ended->finishes.size(), 1);
    EXPECT_EQ(ended->finishes[0].outcome, Outcome::finished());
}

TEST_F(StreamRecorderLifecycle, StopEndTimerAndFailureRacingGiveExactlyOneOutcome)
{
    StreamRecorder::Timing timing = fastTiming();
    timing.retryDelay = 0ms;
    timing.failureLimit = 1;
    std::vector<std::unique_ptr<RecorderProbe>> recordings;
    for (int i = 0; i < 24; ++i) {
        recordings.push_back(std::make_unique<RecorderProbe>(
            provider.url(QStringLiteral("/refused.ts")), folder.filePath(QStringLiteral("race-%1.ts").arg(i)),
            fromNow(std::chrono::milliseconds(i % 4)), timing));
        ASSERT_TRUE(recordings.back()->start());
        if (i % 2 == 0)
            spin(std::chrono::milliseconds(i % 3));
        recordings.back()->recorder().stop();
    }
    for (auto &recording : recordings)
        ASSERT_TRUE(recording->waitForFinish());
    spin(300ms);
    for (auto &recording : recordings) {
        ASSERT_EQ(recording->finishes.size(), 1);
        EXPECT_NE(recording->finishes[0].outcome, Outcome::finished()); // nothing was ever written
    }
}

TEST_F(StreamRecorderLifecycle, AnEndDateMovedIntoThePastEndsAtOnce)
{
    auto ended = record(QStringLiteral("/slow.ts"));
    ASSERT_TRUE(waitUntil([&] { return !ended->progress.isEmpty(); }));
    const auto extendedAt = Clock::now();
    ended->recorder().extend(fromNow(-5s));
    ASSERT_TRUE(ended->waitForFinish(3s));
    EXPECT_EQ(ended->finishes[0].outcome, Outcome::finished());
    EXPECT_LT(ended->finishes[0].at - extendedAt, 500ms);
}

TEST_F(StreamRecorderLifecycle, ProgressComesAtMostOncePerIntervalAndFirstAtOnce)
{
    StreamRecorder::Timing timing = fastTiming();
    timing.progressInterval = 250ms;
    // Recorded into a folder that does not exist yet.
    const QString path = folder.filePath(QStringLiteral("new/deeper/show.ts"));
    auto recording = std::make_unique<RecorderProbe>(provider.url(QStringLiteral("/slow.ts")), path, fromNow(1250ms),
                                                     timing);
    ASSERT_TRUE(recording->start());
    ASSERT_TRUE(waitUntil([&] { return !recording->progress.isEmpty(); }, 2s));
    EXPECT_LE(recording->progress[0], 3000); // the first chunk or so, not a later total
    ASSERT_TRUE(recording->waitForFinish());

    // About 1.25 s of data every 10 ms: the first report and one per 250 ms.
    EXPECT_GE(recording->progress.size(), 4);
    EXPECT_LE(recording->progress.size(), 6);
    for (qsizetype i = 1; i < recording->progress.size(); ++i)
        EXPECT_GT(recording->progress[i], recording->progress[i - 1]);
    EXPECT_LE(recording->progress.last(), recording->finishes[0].bytes);
    EXPECT_TRUE(recording->callbacksOnMainThread);
    EXPECT_EQ(recording->finishes[0].outcome, Outcome::finished());
    EXPECT_GE(recording->finishes[0].at - recording->createdAt, 1200ms);
    EXPECT_EQ(readFile(path), FakeProvider::content(0, recording->finishes[0].bytes));
}

TEST_F(StreamRecorderLifecycle, DestructionIsQuickAndSilentInEveryState)
{
    auto running = record(QStringLiteral("/slow.ts"));
    ASSERT_TRUE(waitUntil([&] { return !running->progress.isEmpty(); }));
    running->recorder().stop(); // the outcome is posted, but never delivered
    const auto destroyedAt = Clock::now();
    running->destroyRecorder();
    EXPECT_LT(Clock::now() - destroyedAt, 1s);
    spin(200ms);
    EXPECT_TRUE(running->finishes.isEmpty());
    EXPECT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));

    // The recording manager lets go of a recorder from inside its outcome.
    auto finishing = std::make_unique<RecorderProbe>(provider.url(QStringLiteral("/slow.ts")), filePath(),
                                                     fromNow(100ms), fastTiming());
    bool destroyedInCallback = false;
    finishing->recorder().onFinish = [&](const Outcome &, qint64) {
        finishing->destroyRecorder();
        destroyedInCallback = true;
    };
    ASSERT_TRUE(finishing->start());
    EXPECT_TRUE(waitUntil([&] { return destroyedInCallback; }));
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
