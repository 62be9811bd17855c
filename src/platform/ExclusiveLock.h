#pragma once

#include <QString>
#include <variant>

// An advisory lock on a file that one process holds at a time, with the
// holder's process ID written inside for whoever finds it taken. The kernel
// lets go of it when the process ends in any way, a kill included, so a lock
// left by a crashed owner never blocks the next start; the file itself stays
// for the next owner to reuse.
class ExclusiveLock
{
public:
    struct Taken
    {
    };
    struct HeldElsewhere
    {
        qint64 pid = 0; // 0 when the holder has not written it yet
    };
    struct Failed
    {
        QString error;
    };
    using Result = std::variant<Taken, HeldElsewhere, Failed>;

    ExclusiveLock() = default;
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;

    // Takes the lock on `path`, making the file if missing, without waiting.
    // A lock held before on another file is released first; asking again
    // for the file already held keeps it.
    Result tryLock(const QString &path);
    void release();

    bool isHeld() const { return m_fd >= 0; }
    // Whether `path` names the file this lock holds, by any of its names.
    bool holds(const QString &path) const;

private:
    int m_fd = -1;
};
