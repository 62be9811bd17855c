#include "HTTPListener.h"

#include "HTTPResponder.h"

#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>

HTTPListener::HTTPListener(HTTPConnection::Timing timing, int maximumConnections, QObject *handlerContext,
                           Handler handler, QObject *parent)
    : QObject(parent)
    , m_timing(timing)
    , m_maximumConnections(maximumConnections)
    , m_handlerContext(handlerContext)
    , m_handler(std::move(handler))
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HTTPListener::acceptPending);
    connect(m_server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        emit listenerFailed(error, m_server->errorString());
    });
}

HTTPListener::~HTTPListener()
{
    // Connections are children; they go with the listener, closing their
    // sockets and files.
    m_server->close();
}

HTTPListener::ListenResult HTTPListener::listen(const QHostAddress &address, quint16 port)
{
    // QTcpServer allows reuse of the local address on Unix, so a restart
    // binds again while old connections linger in TIME_WAIT.
    if (m_server->listen(address, port))
        return {true, QAbstractSocket::UnknownSocketError, QString()};
    return {false, m_server->serverError(), m_server->errorString()};
}

quint16 HTTPListener::serverPort() const
{
    return m_server->isListening() ? m_server->serverPort() : 0;
}

void HTTPListener::acceptPending()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= m_maximumConnections) {
            // Taking the connection off the queue and closing it at once
            // keeps a flood from holding more descriptors than the cap.
            socket->abort();
            delete socket;
            continue;
        }
        const quint64 id = m_nextID++;
        auto *connection = new HTTPConnection(
            socket, m_timing,
            [this, id](const HTTPRequest &request, const QStringList &segments) {
                dispatch(id, request, segments);
            },
            this);
        m_connections.insert(id, connection);
        connect(connection, &HTTPConnection::closed, this, [this, id, connection] {
            m_connections.remove(id);
            connection->deleteLater();
        });
        connection->start();
    }
}

void HTTPListener::dispatch(quint64 id, const HTTPRequest &request, const QStringList &segments)
{
    const HTTPResponder responder(QPointer<HTTPListener>(this), id);
    QMetaObject::invokeMethod(
        m_handlerContext,
        [handler = m_handler, request, segments, responder] { handler(request, segments, responder); },
        Qt::QueuedConnection);
}
