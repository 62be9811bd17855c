#include "RecordingManager.h"

#include "FileNaming.h"
#include "RecordingIndex.h"
#include "RecordingsFolder.h"

#include <QDebug>

RecordingManager::RecordingManager(QObject *parent)
    : QObject(parent)
{
    loadIndex();
}

RecordingManager::~RecordingManager() = default;

RecordingManager &RecordingManager::shared()
{
    // Created on first access and kept until the process ends.
    static RecordingManager *instance = new RecordingManager();
    return *instance;
}

std::optional<Recording> RecordingManager::recording(const QUuid &id) const
{
    for (const Recording &r : m_recordings) {
        if (r.id == id)
            return r;
    }
    return std::nullopt;
}

int RecordingManager::runningCount() const
{
    return 0;
}

void RecordingManager::stopAll()
{
}

QString RecordingManager::recordingsFolderURL() const
{
    return recordingsFolderPath();
}

QString RecordingManager::makeFileName(const QString &title, const QDateTime &programStart, const QUuid &id)
{
    return ::makeFileName(title, programStart, id);
}

void RecordingManager::loadIndex()
{
    m_recordings = readIndex(recordingsFolderURL());
    postChange();
}

void RecordingManager::saveIndex()
{
    postChange();
    if (const auto error = writeIndex(recordingsFolderURL(), m_recordings))
        qWarning().noquote() << QStringLiteral("[TivoluxRecorder] could not save recordings index: ") + *error;
}

void RecordingManager::postChange()
{
    emit recordingsDidChange();
}
