#include "HelperListener.h"

#include "HelperConnection.h"

#include <QLocalSocket>

HelperListener::HelperListener(WakeService &service, PeerCheck peerCheck, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_peerCheck(std::move(peerCheck))
{
    connect(&m_server, &QLocalServer::newConnection, this, &HelperListener::accept);
}

bool HelperListener::listen(qintptr listeningDescriptor)
{
    return m_server.listen(listeningDescriptor);
}

bool HelperListener::listen(const QString &path)
{
    QLocalServer::removeServer(path);
    return m_server.listen(path);
}

void HelperListener::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        const std::optional<uid_t> client = m_peerCheck.allows(socket->socketDescriptor());
        if (!client) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new HelperConnection(socket, *client, m_service, this);
    }
}
