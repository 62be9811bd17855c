#include "RecordingsFolderLock.h"

#include <QDir>

RecordingsFolderLock &RecordingsFolderLock::shared()
{
    static RecordingsFolderLock instance;
    return instance;
}

ExclusiveLock::Result RecordingsFolderLock::moveTo(const QString &folder)
{
    QDir().mkpath(folder);
    ExclusiveLock::Result result = m_lock.tryLock(QDir(folder).filePath(QLatin1String(kFileName)));
    if (std::holds_alternative<ExclusiveLock::Failed>(result))
        m_lock.release();
    return result;
}
