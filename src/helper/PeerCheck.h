#pragma once

#include <QString>
#include <QtGlobal>

// Decides whether the process at the other end of a Unix socket may use the
// helper: it must be running the allowed executable, the same file (device
// and inode) that /proc shows for the peer's process id taken from the
// socket's credentials (SO_PEERCRED).
class PeerCheck
{
public:
    explicit PeerCheck(const QString &allowedExecutable);

    bool allows(qintptr socketDescriptor) const;

private:
    QString m_allowedExecutable;
};
