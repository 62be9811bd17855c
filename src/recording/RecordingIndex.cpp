#include "RecordingIndex.h"

#include "JSONCoding.h"
#include "RecordingsFolder.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Copies the unreadable index to "recordings.json.unreadable-<UTC time>",
// never over an earlier copy.
void keepUnreadableIndex(const QString &indexPath)
{
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString keptPath = indexPath + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(keptPath); ++n)
        keptPath = indexPath + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (QFile::copy(indexPath, keptPath))
        qWarning().noquote() << "[TivoluxRecorder] unreadable recordings index kept as" << keptPath;
    else
        qWarning().noquote() << "[TivoluxRecorder] could not keep unreadable recordings index:" << keptPath;
}

void repair(Recording &recording, const QString &folder)
{
    using Status = Recording::Status;
    if (recording.status == Status::Scheduled || recording.status == Status::Waiting)
        return;
    if (recording.status == Status::Recording)
        recording.status = Status::Interrupted;
    recording.bytes = recordingFileSize(folder, recording.fileName);
}

} // namespace

qint64 recordingFileSize(const QString &folder, const QString &fileName)
{
    const auto path = recordingFilePath(folder, fileName);
    if (!path)
        return 0;
    const QFileInfo info(*path);
    return info.isFile() ? info.size() : 0;
}

QList<Recording> readIndex(const QString &folder)
{
    const QString indexPath = QDir(folder).filePath(QLatin1String(kIndexFileName));
    QFile file(indexPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    file.close();

    auto decoded = sharedJSONDecoder().decodeRecordings(content);
    if (!decoded) {
        keepUnreadableIndex(indexPath);
        return {};
    }
    for (Recording &recording : *decoded)
        repair(recording, folder);
    return *decoded;
}

std::optional<QString> writeIndex(const QString &folder, const QList<Recording> &recordings)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("The folder \"%1\" could not be created.").arg(folder);
    const QByteArray bytes = sharedJSONEncoder().data(sharedJSONEncoder().encode(recordings));
    QSaveFile file(QDir(folder).filePath(QLatin1String(kIndexFileName)));
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}
