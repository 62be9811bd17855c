#include "RecorderTest.h"

#include <QElapsedTimer>

// The headless program, chosen by itself without a display: it fails at
// launch what could not start in time, and ends by the quit rule, asking
// nobody.
using HeadlessQuit = RecorderTest;

TEST_F(HeadlessQuit, LaunchFailsAWaitingRecordingAndInterruptStopsTheRunningOneAndEndsAfterTheQuitDelay)
{
    Recording waited = onAirRecording(QStringLiteral("http://127.0.0.1:1/b.ts"), QStringLiteral("waited.ts"), -60);
    waited.programStart = waited.startDate = waited.endDate.addSecs(-3600);
    waited.status = Recording::Status::Waiting;
    const Recording onAir = onAirRecording(serveLive(1024, std::chrono::milliseconds(10)), QStringLiteral("on air.ts"));
    recorder.writeIndex({waited, onAir});
    recorder.process().setArguments({});
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(waitForLiveBytes(4096));
    ASSERT_TRUE(testsupport::waitUntil([&] { return stored(waited.id).value_or(waited).status == Recording::Status::Failed; }));

    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(recorder.endsCleanlyOn(SIGINT));
    EXPECT_GE(elapsed.elapsed(), 1400) << "the process waits for the recorders to stop";
    ASSERT_EQ(recorder.readIndex().value_or(QList<Recording>{}).size(), 2);
    EXPECT_EQ(stored(waited.id)->errorMessage, QStringLiteral("No provider connection became free during the programme."));
    EXPECT_EQ(stored(onAir.id)->status, Recording::Status::Stopped);
    expectStreamPrefix(recorder.filePath(onAir.fileName));
}
