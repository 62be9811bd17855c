#pragma once

#include "HTTPConnection.h"
#include "HTTPRequest.h"

#include <QAbstractSocket>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class HTTPResponder;
class QTcpServer;

// The TCP listener and every connection it accepted, all on the server
// thread. Each complete request is handed, as a queued call, to a handler
// on the thread of `handlerContext`, together with an HTTPResponder for the
// answer. Knows nothing about routes.
class HTTPListener : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const HTTPRequest &request, const QStringList &segments,
                                       const HTTPResponder &responder)>;

    struct ListenResult
    {
        bool listening = false;
        QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
        QString errorString;
    };

    // At most maximumConnections are open at once; one more is closed as
    // soon as it is accepted, without an answer.
    HTTPListener(HTTPConnection::Timing timing, int maximumConnections, QObject *handlerContext, Handler handler,
                 QObject *parent = nullptr);
    ~HTTPListener() override;

    ListenResult listen(const QHostAddress &address, quint16 port);
    quint16 serverPort() const;

    HTTPConnection *connection(quint64 id) const { return m_connections.value(id); }
    qsizetype connectionCount() const { return m_connections.size(); }

signals:
    // The listener stopped accepting connections after it had started.
    void listenerFailed(QAbstractSocket::SocketError error, const QString &description);

private:
    void acceptPending();
    void dispatch(quint64 id, const HTTPRequest &request, const QStringList &segments);

    HTTPConnection::Timing m_timing;
    int m_maximumConnections;
    QObject *m_handlerContext;
    Handler m_handler;
    QTcpServer *m_server;
    QHash<quint64, HTTPConnection *> m_connections;
    quint64 m_nextID = 1;
};
