#include "RecorderStatus.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QStorageInfo>

namespace {

// A rate from fewer seconds than this says more about the start-up than
// about the stream.
constexpr qint64 kShortestMeasure = 10;

std::optional<qint64> bytesPerSecond(qint64 bytes, const QDateTime &from, const QDateTime &to)
{
    const qint64 seconds = from.secsTo(to);
    if (bytes <= 0 || seconds < kShortestMeasure)
        return std::nullopt;
    return bytes / seconds;
}

// The rate of the channel's latest finished recording.
std::optional<qint64> channelRate(const QString &channelID, const QList<Recording> &recordings)
{
    const Recording *latest = nullptr;
    for (const Recording &r : recordings) {
        if (r.channelID == channelID && r.status == Recording::Status::Finished && r.bytes > 0
            && (!latest || r.endDate > latest->endDate))
            latest = &r;
    }
    return latest ? bytesPerSecond(latest->bytes, latest->startDate, latest->endDate) : std::nullopt;
}

// The file system of a folder that may not exist yet is that of its
// nearest existing parent.
QStorageInfo storageOf(const QString &folder)
{
    QString path = QDir(folder).absolutePath();
    while (!QFileInfo::exists(path) && path != QDir::rootPath())
        path = QFileInfo(path).path();
    return QStorageInfo(path);
}

} // namespace

qint64 RecorderStatus::remainingBytes(const Recording &recording, const QList<Recording> &recordings,
                                      const QDateTime &now)
{
    using Status = Recording::Status;
    std::optional<qint64> rate;
    switch (recording.status) {
    case Status::Recording:
        rate = bytesPerSecond(recording.bytes, recording.startDate, now);
        break;
    case Status::Scheduled:
    case Status::Waiting:
        break;
    default:
        return 0;
    }
    if (!rate)
        rate = channelRate(recording.channelID, recordings);
    const QDateTime from = std::max(recording.startDate, now);
    const qint64 seconds = std::max<qint64>(0, from.secsTo(recording.endDate));
    return seconds * rate.value_or(kUnknownBytesPerSecond);
}

RecorderStatus RecorderStatus::make(const std::optional<QString> &address, const QString &folder,
                                    const QList<Recording> &recordings, const QDateTime &now)
{
    RecorderStatus status;
    status.address = address;
    status.folder = folder;
    const QStorageInfo storage = storageOf(folder);
    if (storage.isValid() && storage.isReady()) {
        status.freeBytes = storage.bytesAvailable();
        status.totalBytes = storage.bytesTotal();
    }
    using Status = Recording::Status;
    for (const Recording &r : recordings) {
        if (r.hasGaps())
            status.withGaps.append(r);
        if (r.status != Status::Scheduled && r.status != Status::Waiting && r.status != Status::Recording)
            continue;
        const qint64 bytes = remainingBytes(r, recordings, now);
        status.estimates.insert(r.id, bytes);
        status.neededBytes += bytes;
    }
    return status;
}

QJsonObject RecorderStatus::toJSON() const
{
    QJsonObject o;
    if (address)
        o.insert(QStringLiteral("address"), *address);
    o.insert(QStringLiteral("folder"), folder);
    if (freeBytes)
        o.insert(QStringLiteral("freeBytes"), *freeBytes);
    if (totalBytes)
        o.insert(QStringLiteral("totalBytes"), *totalBytes);
    o.insert(QStringLiteral("neededBytes"), neededBytes);
    QJsonObject perRecording;
    for (auto it = estimates.cbegin(); it != estimates.cend(); ++it)
        perRecording.insert(it.key().toString(QUuid::WithoutBraces).toUpper(), it.value());
    o.insert(QStringLiteral("estimatedBytes"), perRecording);
    QJsonObject gaps;
    for (const Recording &r : withGaps) {
        gaps.insert(r.id.toString(QUuid::WithoutBraces).toUpper(),
                    QJsonObject{{QStringLiteral("reconnects"), r.reconnects},
                                {QStringLiteral("secondsMissing"), r.secondsMissing},
                                {QStringLiteral("skippedSegments"), r.skippedSegments}});
    }
    o.insert(QStringLiteral("gaps"), gaps);
    return o;
}
