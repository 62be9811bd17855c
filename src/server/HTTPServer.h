#pragma once

#include "HTTPConnection.h"
#include "HTTPListener.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QThread>

// The front of the HTTP layer on the thread that creates it: owns one named
// thread that carries the listener and every connection, and calls its
// handler on its own thread with each complete request. Destroying it stops
// the thread, which closes every connection and file.
class HTTPServer : public QObject
{
    Q_OBJECT

public:
    using Handler = HTTPListener::Handler;
    using ListenResult = HTTPListener::ListenResult;

    // At most maximumConnections are open at once; further ones are closed
    // at once without an answer.
    HTTPServer(const QString &threadName, HTTPConnection::Timing timing, int maximumConnections, Handler handler,
               QObject *parent = nullptr);
    ~HTTPServer() override;

    // Starts the thread if needed and listens there; waits for the outcome.
    // These calls hop onto the server thread and wait, so they must never be
    // made from it.
    ListenResult listen(const QHostAddress &address, quint16 port);

    // The port listened on, 0 when not listening.
    quint16 serverPort() const;
    // Open connections, counted on the server thread.
    qsizetype connectionCount() const;

signals:
    // Delivered on this object's thread.
    void listenerFailed(QAbstractSocket::SocketError error, const QString &description);

private:
    QThread m_thread;
    HTTPListener *m_listener;
    Handler m_handler;
};
