#include "ExclusiveLock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

qint64 readPid(int fd)
{
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got <= 0)
        return 0;
    return QByteArray(text, int(got)).trimmed().toLongLong();
}

void writePid(int fd)
{
    const QByteArray text = QByteArray::number(qint64(::getpid())) + '\n';
    // The number is only for messages; a lock whose number could not be
    // written is still held.
    if (::ftruncate(fd, 0) == 0)
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.constData(), size_t(text.size()), 0);
}

} // namespace

ExclusiveLock::~ExclusiveLock()
{
    release();
}

ExclusiveLock::Result ExclusiveLock::tryLock(const QString &path)
{
    if (holds(path))
        return Taken{};
    // Close-on-exec: a program started from here must not keep the lock
    // after this process has ended.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return Failed{errnoText()};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK) {
            ::close(fd);
            errno = error;
            return Failed{errnoText()};
        }
        // The holder writes its number right after taking the lock; give
        // it a moment when the two starts met.
        qint64 pid = readPid(fd);
        for (int attempt = 0; pid == 0 && attempt < 20; ++attempt) {
            ::usleep(10000);
            pid = readPid(fd);
        }
        ::close(fd);
        return HeldElsewhere{pid};
    }
    release();
    m_fd = fd;
    writePid(fd);
    return Taken{};
}

void ExclusiveLock::release()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

bool ExclusiveLock::holds(const QString &path) const
{
    if (m_fd < 0)
        return false;
    struct stat held = {};
    struct stat named = {};
    return ::fstat(m_fd, &held) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}
