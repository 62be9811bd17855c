#include "JSONCoding.h"
#include "QtPrinters.h"
#include "RecorderStatus.h"
#include "RecordingInfo.h"

#include <QJsonObject>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2025, 3, 1), QTime(20, 0), Qt::UTC);

Recording recording(const char *channel, Recording::Status status, qint64 startOffset, qint64 endOffset,
                    qint64 bytes = 0)
{
    Recording r;
    r.id = QUuid::createUuid();
    r.channelID = QString::fromLatin1(channel);
    r.status = status;
    r.startDate = kNow.addSecs(startOffset);
    r.endDate = kNow.addSecs(endOffset);
    r.bytes = bytes;
    return r;
}

QString idText(const Recording &r) { return r.id.toString(QUuid::WithoutBraces).toUpper(); }

} // namespace

TEST(RecorderStatus, EstimatesUseTheRecordingsOwnRateThenTheChannelsThenEightMegabits)
{
    using Status = Recording::Status;
    // The channel's latest finished recording ran 100 s at 200 kB/s; an
    // older one at another rate does not count.
    const Recording older = recording("one", Status::Finished, -9000, -8000, 1000000);
    const Recording latest = recording("one", Status::Finished, -3000, -2900, 20000000);
    const Recording running = recording("two", Status::Recording, -60, 120, 6000000);
    const Recording justStarted = recording("one", Status::Recording, -5, 100, 900000000);
    const Recording sameChannel = recording("one", Status::Scheduled, 600, 660);
    const Recording unknown = recording("three", Status::Waiting, -30, 50);
    const Recording stopped = recording("two", Status::Stopped, -100, 100, 5000);
    const QList<Recording> all{older, latest, running, justStarted, sameChannel, unknown, stopped};
    // Five seconds say nothing yet about a stream: the channel's rate. A
    // start in the past counts from now.
    const std::pair<const Recording *, qint64> estimates[] = {
        {&running, 120 * 100000}, {&justStarted, 100 * 200000}, {&sameChannel, 60 * 200000},
        {&unknown, 50 * 1000000}, {&stopped, 0}};
    for (const auto &[r, bytes] : estimates)
        EXPECT_EQ(RecorderStatus::remainingBytes(*r, all, kNow), bytes) << bytes;

    QTemporaryDir root;
    const RecorderStatus status =
        RecorderStatus::make(QStringLiteral("192.168.1.23"), root.filePath(QStringLiteral("not/yet")), all, kNow);
    EXPECT_EQ(status.neededBytes, 12000000 + 20000000 + 12000000 + 50000000);
    EXPECT_EQ(status.estimates.size(), 4);
    EXPECT_FALSE(status.estimates.contains(stopped.id));
    // A folder not made yet: the space of the file system it will be on.
    EXPECT_EQ(status.totalBytes, QStorageInfo(root.path()).bytesTotal());
    const QJsonObject json = status.toJSON();
    EXPECT_EQ(json.value(QStringLiteral("address")).toString(), QStringLiteral("192.168.1.23"));
    EXPECT_EQ(json.value(QStringLiteral("estimatedBytes")).toObject().value(idText(running)).toInteger(), 12000000);
    EXPECT_GT(json.value(QStringLiteral("freeBytes")).toInteger(), 0);
}

TEST(RecorderStatus, GapsAreListedForThePageWhileTheAPIDocumentStaysAsItWas)
{
    Recording missed = recording("one", Recording::Status::Finished, -600, -10, 5000);
    const Recording unmarked = missed;
    missed.reconnects = 2;
    missed.secondsMissing = 14;
    missed.skippedSegments = 3;
    const Recording whole = recording("one", Recording::Status::Finished, -900, -700, 5000);
    QTemporaryDir root;
    const QJsonObject gaps = RecorderStatus::make(std::nullopt, root.path(), {missed, whole}, kNow)
                                 .toJSON().value(QStringLiteral("gaps")).toObject();
    EXPECT_EQ(gaps, (QJsonObject{{idText(missed), QJsonObject{{QStringLiteral("reconnects"), 2},
                                                              {QStringLiteral("secondsMissing"), 14},
                                                              {QStringLiteral("skippedSegments"), 3}}}}));
    EXPECT_EQ(RecordingInfo::from(missed).toJSON(sharedJSONEncoder()),
              RecordingInfo::from(unmarked).toJSON(sharedJSONEncoder()));
}
