#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>
#include <sys/types.h>

// Decides whether the process at the other end of a Unix socket may use the
// helper, and tells its user id: it must be running the allowed executable,
// as /proc shows for the peer's process id taken from the socket's
// credentials (SO_PEERCRED). That is either the same file (device and inode)
// or, for a process started before the package was upgraded, the replaced
// file that once stood at the allowed path. The check keeps strangers out;
// it is no proof of good intent, and the helper limits every client anyway.
class PeerCheck
{
public:
    explicit PeerCheck(const QString &allowedExecutable);

    // The peer's user id when it may be served.
    std::optional<uid_t> allows(qintptr socketDescriptor) const;

private:
    QString m_allowedExecutable;
};
