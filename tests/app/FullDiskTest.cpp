#include "FakeProvider.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>

// The program writing into a disk that fills up during a capture: every file
// it writes is limited to a size below what the stream delivers.
TEST(FullDisk, CaptureFailsWithTheWriteErrorAndKeepsWhatWasWritten)
{
    using namespace std::chrono_literals;
    // Not a multiple of any chunk size, so the last write is cut short.
    constexpr qint64 kRoom = 300001;
    FakeProvider provider;
    provider.serve(QStringLiteral("/live.ts"), FakeProvider::Answer::slowStream(7000, 2ms));

    RecorderProcess recorder;
    ASSERT_TRUE(recorder.isValid());
    const Recording stored = onAirRecording(provider.url(QStringLiteral("/live.ts")).toString(), QStringLiteral("full.ts"));
    recorder.writeIndex({stored});
    recorder.limitFileSize(kRoom);
    ASSERT_TRUE(recorder.start());

    std::optional<QList<Recording>> index;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        index = recorder.readIndex();
        return index && index->size() == 1 && index->first().status == Recording::Status::Failed;
    }, 20s)) << recorder.output().toStdString();
    const Recording failed = index->first();
    const QString prefix = QStringLiteral("Could not write to the recordings folder: ");
    ASSERT_TRUE(failed.errorMessage);
    EXPECT_TRUE(failed.errorMessage->startsWith(prefix)) << failed.errorMessage->toStdString();
    EXPECT_GT(failed.errorMessage->size(), prefix.size()) << "the system's reason follows the prefix";
    EXPECT_EQ(*failed.errorMessage, prefix + QStringLiteral("File too large")) << failed.errorMessage->toStdString();

    const QByteArray file = testsupport::readFile(recorder.filePath(QStringLiteral("full.ts")));
    EXPECT_EQ(file.size(), kRoom) << "every byte that fitted stays";
    EXPECT_EQ(failed.bytes, file.size()) << "the index counts exactly what the file holds";
    EXPECT_TRUE(file == FakeProvider::content(0, file.size()));
    EXPECT_LE(qAbs(failed.endDate.secsTo(QDateTime::currentDateTimeUtc())), 20) << "ended when it failed";

    EXPECT_EQ(recorder.process().state(), QProcess::Running) << "the program carries on";
    recorder.kill(SIGTERM);
    ASSERT_TRUE(recorder.waitForExit());
    EXPECT_EQ(recorder.process().exitCode(), 0);
}
