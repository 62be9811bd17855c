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
        ASSERT_TRUE(recorder.waitForExit(5000));
        EXPECT_EQ(recorder.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(recorder.process().exitCode(), 0);
    }

    RecorderProcess recorder;
};

} // namespace

TEST_F(HeadlessProcess, TermOrInterruptWithNothingRecordingEndsAtOnceWithStatusZero)
{
    ASSERT_TRUE(recorder.start());
    EXPECT_EQ(recorder.process().state(), QProcess::Running);
    expectCleanExitOn(SIGTERM);

    // No --headless: without a display the program chooses headless itself.
    recorder.setArguments({});
    ASSERT_TRUE(recorder.start());
    expectCleanExitOn(SIGINT);
}

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
    recorder.kill(SIGTERM);
    ASSERT_TRUE(recorder.waitForExit(10000));
    EXPECT_GE(elapsed.elapsed(), 1400) << "the process waits for the recorders to stop";
    EXPECT_EQ(recorder.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(recorder.process().exitCode(), 0);

    const auto index = recorder.readIndex();
    ASSERT_TRUE(index);
    ASSERT_EQ(index->size(), 1);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped);
    const QByteArray file = testsupport::readFile(recorder.filePath(QStringLiteral("on air.ts")));
    EXPECT_GT(file.size(), 0);
    EXPECT_EQ(file, FakeProvider::content(0, file.size()));
}

TEST_F(HeadlessProcess, LaunchMarksInterruptedAndOverdueRecordings)
{
    Recording running = onAirRecording(QStringLiteral("http://127.0.0.1:1/a.ts"), QStringLiteral("was running.ts"));
    running.status = Recording::Status::Recording;
    Recording missed = onAirRecording(QStringLiteral("http://127.0.0.1:1/b.ts"), QStringLiteral("missed.ts"), -60);
    missed.programStart = missed.startDate = missed.endDate.addSecs(-3600);
    Recording waited = missed;
    waited.id = QUuid::createUuid();
    waited.status = Recording::Status::Waiting;
    recorder.writeIndex({running, missed, waited});
    testsupport::writeFile(recorder.filePath(QStringLiteral("was running.ts")), QByteArray(3 * 188, 'G'));

    ASSERT_TRUE(recorder.start());
    std::optional<QList<Recording>> index;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        index = recorder.readIndex();
        return index && index->size() == 3 && index->at(1).status == Recording::Status::Failed
               && index->at(2).status == Recording::Status::Failed;
    }));
    EXPECT_EQ(index->at(0).status, Recording::Status::Interrupted);
    EXPECT_EQ(index->at(0).bytes, 3 * 188);
    EXPECT_EQ(index->at(1).errorMessage,
              QStringLiteral("The Mac was asleep or the recorder was not running at the scheduled time."));
    EXPECT_EQ(index->at(2).errorMessage, QStringLiteral("No provider connection became free during the programme."));
    expectCleanExitOn(SIGTERM);
}
