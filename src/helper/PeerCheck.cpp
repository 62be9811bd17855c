#include "PeerCheck.h"

#include <QFile>

#include <sys/socket.h>
#include <sys/stat.h>

PeerCheck::PeerCheck(const QString &allowedExecutable)
    : m_allowedExecutable(allowedExecutable)
{
}

bool PeerCheck::allows(qintptr socketDescriptor) const
{
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || length != sizeof credentials || credentials.pid <= 0)
        return false;

    // stat() follows /proc/PID/exe to the file the process runs; a binary
    // replaced on disk since the process started no longer matches.
    const QByteArray peerExecutable = "/proc/" + QByteArray::number(credentials.pid) + "/exe";
    struct stat peer = {};
    struct stat allowed = {};
    if (::stat(peerExecutable.constData(), &peer) != 0
        || ::stat(QFile::encodeName(m_allowedExecutable).constData(), &allowed) != 0)
        return false;
    return peer.st_dev == allowed.st_dev && peer.st_ino == allowed.st_ino;
}
