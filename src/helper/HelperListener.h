#pragma once

#include "PeerCheck.h"

#include <QLocalServer>
#include <QObject>

class WakeService;

// Accepts connections on the helper's socket and serves those whose peer
// passes the peer check; any other connection is closed before a byte of it
// is read.
class HelperListener : public QObject
{
    Q_OBJECT

public:
    HelperListener(WakeService &service, PeerCheck peerCheck, QObject *parent = nullptr);

    // A listening socket handed over by the service manager.
    bool listen(qintptr listeningDescriptor);
    // A socket created at the path (an old socket file there is replaced).
    bool listen(const QString &path);
    QString errorString() const { return m_server.errorString(); }

private:
    void accept();

    WakeService &m_service;
    PeerCheck m_peerCheck;
    QLocalServer m_server;
};
