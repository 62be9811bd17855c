#include "AppServices.h"

#include "DesktopFileManager.h"
#include "RecordingManager.h"
#include "RecordingServer.h"
#include "RecordingsFolderLock.h"
#include "WakeScheduler.h"

RecordingManager &AppServices::recordingManager() const
{
    return manager ? *manager : RecordingManager::shared();
}

RecordingServer &AppServices::recordingServer() const
{
    return server ? *server : RecordingServer::shared();
}

WakeScheduler &AppServices::scheduler() const
{
    return wakeScheduler ? *wakeScheduler : WakeScheduler::shared();
}

RecordingsFolderLock &AppServices::recordingsFolderLock() const
{
    return folderLock ? *folderLock : RecordingsFolderLock::shared();
}

FileManager &AppServices::files()
{
    if (!fileManager)
        fileManager = std::make_shared<DesktopFileManager>();
    return *fileManager;
}
