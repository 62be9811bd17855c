#include "RecorderTest.h"

// The program started while another copy already records: the later launch
// ends, naming the running process, and leaves the index and the capture
// alone. That a killed copy's locks do not block the next start is proved
// by CrashRecoveryTest's restart.
namespace {

class SecondLaunch : public RecorderTest
{
protected:
    void startFirst()
    {
        onAir = onAirRecording(serveLive(1880, 10), QStringLiteral("on air.ts"));
        recorder.writeIndex({onAir});
        ASSERT_TRUE(recorder.start(true));
        ASSERT_TRUE(waitForLiveBytes(8192));
        indexBefore = testsupport::readFile(recorder.filePath(QStringLiteral("recordings.json")));
    }

    void expectRefused(RecorderProcess &later, int status = 1)
    {
        EXPECT_EQ(later.runToExit(), status);
        if (status != 0) {
            EXPECT_TRUE(later.output().contains("process " + QByteArray::number(recorder.process().processId())))
                << later.output().toStdString();
        }
        EXPECT_EQ(provider.requestCount(kLive), 1) << "the later launch asked the provider for the stream";
        EXPECT_EQ(testsupport::readFile(recorder.filePath(QStringLiteral("recordings.json"))), indexBefore);
        const qint64 size = fileSize(recorder.filePath(onAir.fileName));
        EXPECT_TRUE(testsupport::waitUntil([&] { return fileSize(recorder.filePath(onAir.fileName)) > size; }))
            << "the first copy goes on recording";
    }

    Recording onAir;
    QByteArray indexBefore;
};

} // namespace

TEST_F(SecondLaunch, LaterLaunchesBesideAHeadlessCopyAreRefusedAndACleanEndBlocksNoLaterStart)
{
    startFirst();
    const auto second = recorder.sameUser();
    expectRefused(*second);
    EXPECT_EQ(second->output().trimmed().count('\n'), 0) << "one line: " << second->output().toStdString();
    // Another user's recorder on the same folder.
    RecorderProcess other(recorder.process().program());
    other.useTestPort();
    other.useFolder(recorder.folder());
    expectRefused(other);
    EXPECT_TRUE(other.output().contains(recorder.folder().toUtf8())) << other.output().toStdString();

    ASSERT_TRUE(recorder.endsCleanlyOn(SIGTERM));
    EXPECT_TRUE(recorder.sameUser()->start(true));
}

TEST_F(SecondLaunch, DesktopLaunchHandsTheWindowToTheRunningDesktopCopy)
{
    recorder.runOnDesktop();
    startFirst();
    expectRefused(*recorder.sameUser(), 0);
}
