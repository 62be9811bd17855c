#include "RecorderTest.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QStandardPaths>

using HeadlessQuit = RecorderTest;
using FullDisk = RecorderTest;
using DisplayLoss = RecorderTest;

// Headless by itself without a display: it fails at launch what could not
// start in time, and ends by the quit rule, asking nobody.
TEST_F(HeadlessQuit, LaunchFailsAWaitingRecordingAndInterruptStopsTheRunningOneAndEndsAfterTheQuitDelay)
{
    Recording waited = onAirRecording(QStringLiteral("http://127.0.0.1:1/b.ts"), QStringLiteral("waited.ts"), -60);
    waited.programStart = waited.startDate = waited.endDate.addSecs(-3600);
    waited.status = Recording::Status::Waiting;
    const Recording onAir = onAirRecording(serveLive(1024, 10), QStringLiteral("on air.ts"));
    recorder.writeIndex({waited, onAir});
    recorder.process().setArguments({});
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(waitForLiveBytes(4096));
    ASSERT_TRUE(testsupport::waitUntil([&] { return stored(waited.id).value_or(waited).status == Recording::Status::Failed; }));
    // What a write to a closed log pipe raises: the program records on.
    recorder.kill(SIGPIPE);
    ASSERT_TRUE(waitForLiveBytes(provider.bytesSent(kLive) + 4096)) << exitReport();

    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(recorder.endsCleanlyOn(SIGINT));
    EXPECT_GE(elapsed.elapsed(), 1400) << "the process waits for the recorders to stop";
    ASSERT_EQ(recorder.readIndex().value_or(QList<Recording>{}).size(), 2);
    EXPECT_EQ(stored(waited.id)->errorMessage, QStringLiteral("No provider connection became free during the programme."));
    EXPECT_EQ(stored(onAir.id)->status, Recording::Status::Stopped);
    expectStreamPrefix(recorder.filePath(onAir.fileName));
}

// Every file the program writes is limited to less than the stream delivers.
TEST_F(FullDisk, CaptureFailsWithTheWriteErrorAndKeepsWhatWasWritten)
{
    // Not a multiple of any chunk size, so the last write is cut short.
    constexpr qint64 kRoom = 300001;
    recorder.writeIndex({onAirRecording(serveLive(7000, 2), QStringLiteral("full.ts"))});
    recorder.fileSizeLimit = kRoom;
    ASSERT_TRUE(recorder.start());

    std::optional<QList<Recording>> index;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        index = recorder.readIndex();
        return index && index->size() == 1 && index->first().status == Recording::Status::Failed;
    }, std::chrono::seconds(20))) << recorder.output().toStdString();
    const Recording failed = index->first();
    EXPECT_EQ(failed.errorMessage, QStringLiteral("Could not write to the recordings folder: File too large"));
    const QString path = recorder.filePath(QStringLiteral("full.ts"));
    EXPECT_EQ(fileSize(path), kRoom) << "every byte that fitted stays";
    EXPECT_EQ(failed.bytes, kRoom) << "the index counts exactly what the file holds";
    expectStreamPrefix(path);
    EXPECT_LE(qAbs(failed.endDate.secsTo(QDateTime::currentDateTimeUtc())), 20) << "ended when it failed";
    EXPECT_TRUE(recorder.endsCleanlyOn(SIGTERM)) << "the program carries on until told to end";
}

// At the end of a session the X server goes away and Qt ends the program at
// once, without returning from its event loop.
TEST_F(DisplayLoss, LosingTheDisplaySavesTheRunningRecordingAsStopped)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "no virtual X server (Xvfb) here";
    // The server picks a free display and names it once it takes connections.
    QProcess display;
    display.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
    ASSERT_TRUE(display.waitForStarted());
    const auto stopDisplay = qScopeGuard([&] {
        display.terminate();
        display.waitForFinished();
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return display.canReadLine(); }));
    const QString number = QString::fromLatin1(display.readLine().trimmed());

    const Recording onAir = onAirRecording(serveLive(1024, 10), QStringLiteral("on air.ts"));
    recorder.writeIndex({onAir});
    recorder.runOnDesktop(QLatin1Char(':') + number);
    // The API answers once the launch is over, tray and window made.
    ASSERT_TRUE(recorder.start(true));
    ASSERT_TRUE(waitForLiveBytes(4096));

    const QDateTime lost = QDateTime::currentDateTimeUtc().addSecs(-1);
    display.terminate();
    ASSERT_TRUE(recorder.waitForExit()) << recorder.output().constData();
    const auto index = recorder.readIndex();
    ASSERT_TRUE(index && index->size() == 1);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped) << exitReport();
    EXPECT_GE(index->first().endDate, lost);
    EXPECT_LT(index->first().endDate, onAir.endDate);
    expectStreamPrefix(recorder.filePath(QStringLiteral("on air.ts")));
}
