#include "FakeProvider.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <csignal>

namespace {

class HeadlessProcess : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(recorder.isValid()); }

    // Ends the program with the signal and expects a normal exit with status 0.
    void expectCleanExitOn(int signal)
    {
        recorder.kill(signal);
        ASSERT_TRUE(recorder.waitForExit());
        EXPECT_EQ(recorder.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(recorder.process().exitCode(), 0);
    }

    RecorderProcess recorder;
};

} // namespace

TEST_F(HeadlessProcess, TermWhileRecordingStopsCaptureAndEndsAfterTheQuitDelay)
{
    using namespace std::chrono_literals;
    FakeProvider provider;
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::slowStream(1024, 10ms));

    recorder.writeIndex({onAirRecording(provider.url(QStringLiteral("/stream.ts")).toString(), QStringLiteral("on air.ts"))});
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.bytesSent(QStringLiteral("/stream.ts")) > 4096; }));

    QElapsedTimer elapsed;
    elapsed.start();
    expectCleanExitOn(SIGTERM);
    EXPECT_GE(elapsed.elapsed(), 1400) << "the process waits for the recorders to stop";

    const auto index = recorder.readIndex();
    ASSERT_TRUE(index);
    ASSERT_EQ(index->size(), 1);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped);
    const QByteArray file = testsupport::readFile(recorder.filePath(QStringLiteral("on air.ts")));
    EXPECT_GT(file.size(), 0);
    EXPECT_EQ(file, FakeProvider::content(0, file.size()));
}

TEST_F(HeadlessProcess, LaunchFailsARecordingStillWaitingForTheProviderAndInterruptEndsIt)
{
    Recording waited = onAirRecording(QStringLiteral("http://127.0.0.1:1/b.ts"), QStringLiteral("waited.ts"), -60);
    waited.programStart = waited.startDate = waited.endDate.addSecs(-3600);
    waited.status = Recording::Status::Waiting;
    recorder.writeIndex({waited});

    // No --headless: without a display the program chooses headless itself.
    recorder.setArguments({});
    ASSERT_TRUE(recorder.start());
    std::optional<QList<Recording>> index;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        index = recorder.readIndex();
        return index && index->size() == 1 && index->first().status == Recording::Status::Failed;
    }));
    EXPECT_EQ(index->first().errorMessage, QStringLiteral("No provider connection became free during the programme."));
    expectCleanExitOn(SIGINT);
}
