#pragma once

#include <memory>

class FileManager;
class RecordingManager;
class RecordingsFolderLock;
class RecordingServer;
class WakeScheduler;

// The services the desktop interface works with. Absent ones are the
// process-wide shared instances, reached only when first needed so that the
// launch keeps its order; tests hand in their own.
struct AppServices
{
    RecordingManager *manager = nullptr;
    RecordingServer *server = nullptr;
    WakeScheduler *wakeScheduler = nullptr;
    RecordingsFolderLock *folderLock = nullptr;
    std::shared_ptr<FileManager> fileManager; // none: the desktop's own

    RecordingManager &recordingManager() const;
    RecordingServer &recordingServer() const;
    WakeScheduler &scheduler() const;
    RecordingsFolderLock &recordingsFolderLock() const;
    FileManager &files();
};
