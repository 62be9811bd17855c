#include "RecorderTest.h"

// The program writing into a disk that fills up during a capture: every file
// it writes is limited to a size below what the stream delivers.
using FullDisk = RecorderTest;

TEST_F(FullDisk, CaptureFailsWithTheWriteErrorAndKeepsWhatWasWritten)
{
    // Not a multiple of any chunk size, so the last write is cut short.
    constexpr qint64 kRoom = 300001;
    recorder.writeIndex({onAirRecording(serveLive(7000, std::chrono::milliseconds(2)), QStringLiteral("full.ts"))});
    recorder.limitFileSize(kRoom);
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
