#pragma once

#include <QByteArray>
#include <QObject>
#include <sys/types.h>

class QLocalSocket;
class WakeService;

// Serves one accepted client: reads request lines, runs each through the
// wake service on behalf of the client's user id and writes the reply, in
// order. A request that is malformed or longer than the longest allowed
// line closes the connection. Deletes itself when the connection ends.
class HelperConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kLongestRequest = 1024;

    HelperConnection(QLocalSocket *socket, uid_t client, WakeService &service, QObject *parent = nullptr);

private:
    void readRequests();
    void close();

    QLocalSocket *m_socket;
    uid_t m_client;
    WakeService &m_service;
    QByteArray m_buffer;
    bool m_closed = false;
};
