#include "ServedRecorder.h"

#include "RecordingIndex.h"
#include "RecordingsFolder.h"

#include <QSettings>

Recording servedRecording(const QString &title, Recording::Status status, qint64 bytes)
{
    Recording r;
    r.id = QUuid::createUuid();
    r.title = title;
    r.channelName = QStringLiteral("Channel One");
    r.channelID = QStringLiteral("ch1");
    r.streamURL = QStringLiteral("http://127.0.0.1:9/live/user/pass/1.ts");
    const bool pending = status == Recording::Status::Scheduled || status == Recording::Status::Waiting;
    r.programStart = r.startDate = QDateTime(QDate(pending ? 2099 : 2024, 5, 1), QTime(20, 0), Qt::UTC);
    r.programEnd = r.programStart.addSecs(3600);
    r.endDate = r.programEnd.addSecs(300);
    r.fileName = title + QStringLiteral(".ts");
    r.status = status;
    r.bytes = bytes;
    return r;
}

std::optional<QString> ServedRecorder::start(const QString &folder, const QList<Recording> &recordings)
{
    stop();
    if (auto error = writeIndex(folder, recordings))
        return error;
    QSettings().setValue(QLatin1String(kFolderPathSettingKey), folder);
    m_manager = std::make_unique<RecordingManager>();
    m_server = std::make_unique<RecordingServer>(RecordingServer::Configuration{
        .address = QHostAddress(QHostAddress::LocalHost), .port = 0, .timing = {}, .manager = m_manager.get()});
    m_server->start();
    return m_server->startError();
}
