#pragma once

#include "ExclusiveLock.h"

#include <QString>

// The recordings folder this process records into, held so that no other
// recorder (another user's, or one started with other settings) captures
// into the same files or rewrites the same index.
class RecordingsFolderLock
{
public:
    // Hidden, so that it stays out of the way among the recordings.
    static constexpr char kFileName[] = ".tivolux-recorder.lock";

    static RecordingsFolderLock &shared();

    // Makes the folder when missing and takes its lock, letting go of the
    // folder held before. When another recorder owns the folder, the one
    // held before stays held; when the lock cannot be had at all, none is.
    ExclusiveLock::Result moveTo(const QString &folder);

private:
    ExclusiveLock m_lock;
};
