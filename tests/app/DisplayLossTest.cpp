#include "RecorderTest.h"

#include <QScopeGuard>
#include <QStandardPaths>

// At the end of a session the X server goes away and Qt ends the program
// at once, without returning from its event loop.
using DisplayLoss = RecorderTest;

TEST_F(DisplayLoss, LosingTheDisplaySavesTheRunningRecordingAsStopped)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "no virtual X server (Xvfb) here";
    // A virtual X server on the first free display number.
    int number = 90;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    QProcess display;
    display.start(xvfb, {QStringLiteral(":%1").arg(number), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    ASSERT_TRUE(display.waitForStarted());
    const auto stopDisplay = qScopeGuard([&] {
        display.terminate();
        display.waitForFinished();
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)); }));

    const Recording onAir = onAirRecording(serveLive(1024, std::chrono::milliseconds(10)), QStringLiteral("on air.ts"));
    recorder.writeIndex({onAir});
    recorder.runOnDesktop(QStringLiteral(":%1").arg(number));
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(waitForLiveBytes(4096));

    // Ended the way a session's end does it: every client's connection breaks.
    const QDateTime lost = QDateTime::currentDateTimeUtc().addSecs(-1);
    display.terminate();
    ASSERT_TRUE(recorder.waitForExit()) << recorder.output().constData();
    const auto index = recorder.readIndex();
    ASSERT_TRUE(index && index->size() == 1);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped) << recorder.output().constData();
    EXPECT_GE(index->first().endDate, lost);
    EXPECT_LT(index->first().endDate, onAir.endDate);
    expectStreamPrefix(recorder.filePath(QStringLiteral("on air.ts")));
}
