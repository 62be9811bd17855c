#include "PeerCheck.h"

#include <QFile>

#include <climits>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The text of /proc/PID/exe: the path the process was started from, with
// " (deleted)" once that file has been removed or replaced.
QByteArray linkText(const QByteArray &link)
{
    char target[PATH_MAX + 16];
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    if (length <= 0 || size_t(length) >= sizeof target)
        return {};
    return QByteArray(target, length);
}

} // namespace

PeerCheck::PeerCheck(const QString &allowedExecutable)
    : m_allowedExecutable(allowedExecutable)
{
}

std::optional<uid_t> PeerCheck::allows(qintptr socketDescriptor) const
{
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || length != sizeof credentials || credentials.pid <= 0)
        return std::nullopt;

    const QByteArray peerExecutable = "/proc/" + QByteArray::number(credentials.pid) + "/exe";
    const QByteArray allowedPath = QFile::encodeName(m_allowedExecutable);
    // stat() follows /proc/PID/exe to the file the process runs.
    struct stat peer = {};
    struct stat allowed = {};
    if (::stat(peerExecutable.constData(), &peer) == 0 && ::stat(allowedPath.constData(), &allowed) == 0
        && peer.st_dev == allowed.st_dev && peer.st_ino == allowed.st_ino)
        return credentials.uid;
    // Only whoever may write the allowed path can have replaced the file
    // there, so a process still running the replaced one is the application
    // from before an upgrade.
    if (linkText(peerExecutable) == allowedPath + " (deleted)")
        return credentials.uid;
    return std::nullopt;
}
