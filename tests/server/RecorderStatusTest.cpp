#include "JSONCoding.h"
#include "RecorderStatus.h"
#include "RecordingInfo.h"

#include <QJsonObject>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2025, 3, 1), QTime(20, 0), Qt::UTC);

Recording recording(const QString &channel, Recording::Status status, qint64 startOffset, qint64 endOffset,
                    qint64 bytes = 0)
{
    Recording r;
    r.id = QUuid::createUuid();
    r.channelID = channel;
    r.status = status;
    r.startDate = kNow.addSecs(startOffset);
    r.endDate = kNow.addSecs(endOffset);
    r.bytes = bytes;
    return r;
}

} // namespace

TEST(RecorderStatus, EstimatesUseTheRecordingsOwnRateThenTheChannelsThenEightMegabits)
{
    using Status = Recording::Status;
    // The channel's latest finished recording ran 100 s at 200 kB/s; an
    // older one at another rate does not count.
    const Recording older = recording(QStringLiteral("one"), Status::Finished, -9000, -8000, 1000000);
    const Recording latest = recording(QStringLiteral("one"), Status::Finished, -3000, -2900, 20000000);
    const Recording running = recording(QStringLiteral("two"), Status::Recording, -60, 120, 6000000);
    const Recording justStarted = recording(QStringLiteral("one"), Status::Recording, -5, 100, 900000000);
    const Recording sameChannel = recording(QStringLiteral("one"), Status::Scheduled, 600, 660);
    const Recording unknown = recording(QStringLiteral("three"), Status::Waiting, -30, 50);
    const Recording stopped = recording(QStringLiteral("two"), Status::Stopped, -100, 100, 5000);
    const QList<Recording> all{older, latest, running, justStarted, sameChannel, unknown, stopped};

    EXPECT_EQ(RecorderStatus::remainingBytes(running, all, kNow), 120 * 100000);
    // Five seconds say nothing yet about a stream: the channel's rate.
    EXPECT_EQ(RecorderStatus::remainingBytes(justStarted, all, kNow), 100 * 200000);
    EXPECT_EQ(RecorderStatus::remainingBytes(sameChannel, all, kNow), 60 * 200000);
    // Counted from now, not from its start in the past.
    EXPECT_EQ(RecorderStatus::remainingBytes(unknown, all, kNow), 50 * RecorderStatus::kUnknownBytesPerSecond);
    EXPECT_EQ(RecorderStatus::remainingBytes(stopped, all, kNow), 0);

    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const RecorderStatus status =
        RecorderStatus::make(QStringLiteral("192.168.1.23"), root.filePath(QStringLiteral("not/yet")), all, kNow);
    EXPECT_EQ(status.neededBytes, 12000000 + 20000000 + 12000000 + 50000000);
    EXPECT_EQ(status.estimates.size(), 4);
    EXPECT_FALSE(status.estimates.contains(stopped.id));
    // A folder not made yet: the space of the file system it will be on.
    const QStorageInfo storage(root.path());
    ASSERT_TRUE(status.totalBytes);
    EXPECT_EQ(*status.totalBytes, storage.bytesTotal());

    const QJsonObject json = status.toJSON();
    EXPECT_EQ(json.value(QStringLiteral("address")).toString(), QStringLiteral("192.168.1.23"));
    EXPECT_EQ(json.value(QStringLiteral("neededBytes")).toInteger(), status.neededBytes);
    EXPECT_EQ(json.value(QStringLiteral("estimatedBytes"))
                  .toObject()
                  .value(running.id.toString(QUuid::WithoutBraces).toUpper())
                  .toInteger(),
              12000000);
    EXPECT_GT(json.value(QStringLiteral("freeBytes")).toInteger(), 0);
}

TEST(RecorderStatus, GapsAreListedForThePageWhileTheAPIDocumentStaysAsItWas)
{
    using Status = Recording::Status;
    Recording missed = recording(QStringLiteral("one"), Status::Finished, -600, -10, 5000);
    missed.reconnects = 2;
    missed.secondsMissing = 14;
    missed.skippedSegments = 3;
    const Recording whole = recording(QStringLiteral("one"), Status::Finished, -900, -700, 5000);
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());

    const QJsonObject gaps =
        RecorderStatus::make(std::nullopt, root.path(), {missed, whole}, kNow).toJSON().value(QStringLiteral("gaps")).toObject();
    const QString id = missed.id.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(gaps.keys(), QStringList{id});
    EXPECT_EQ(gaps.value(id).toObject(), (QJsonObject{{QStringLiteral("reconnects"), 2},
                                                      {QStringLiteral("secondsMissing"), 14},
                                                      {QStringLiteral("skippedSegments"), 3}}));

    Recording unmarked = missed;
    unmarked.reconnects = 0;
    unmarked.secondsMissing = 0;
    unmarked.skippedSegments = 0;
    EXPECT_EQ(RecordingInfo::from(missed).toJSON(sharedJSONEncoder()),
              RecordingInfo::from(unmarked).toJSON(sharedJSONEncoder()));
}
