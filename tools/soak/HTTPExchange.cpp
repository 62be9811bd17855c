#include "HTTPExchange.h"

#include <QHostAddress>

QByteArray HTTPExchange::Reply::header(const QByteArray &name) const
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

void HTTPExchange::send(quint16 port, const QByteArray &request, int timeoutMilliseconds, Done done,
                        qint64 abortAfter)
{
    new HTTPExchange(port, request, timeoutMilliseconds, std::move(done), abortAfter);
}

HTTPExchange::HTTPExchange(quint16 port, const QByteArray &request, int timeoutMilliseconds, Done done,
                           qint64 abortAfter)
    : m_done(std::move(done)), m_abortAfter(abortAfter)
{
    m_clock.start();
    connect(&m_socket, &QTcpSocket::readyRead, this, &HTTPExchange::received);
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] { end(true, false); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        end(error == QAbstractSocket::RemoteHostClosedError, false);
    });
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { end(false, false); });
    m_timeout.start(timeoutMilliseconds);
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    m_socket.write(request);
}

void HTTPExchange::received()
{
    m_bytes += m_socket.readAll();
    if (m_abortAfter >= 0 && m_bytes.size() >= m_abortAfter)
        end(false, true);
}

void HTTPExchange::end(bool complete, bool aborted)
{
    if (m_ended)
        return;
    m_ended = true;
    m_timeout.stop();
    m_bytes += m_socket.readAll();
    m_socket.disconnect(this);
    m_socket.abort();

    Reply reply;
    reply.complete = complete;
    reply.aborted = aborted;
    reply.milliseconds = m_clock.elapsed();
    const qsizetype end = m_bytes.indexOf("\r\n\r\n");
    if (end >= 0) {
        reply.head = m_bytes.left(end);
        reply.body = m_bytes.mid(end + 4);
        reply.status = reply.head.mid(9, 3).toInt();
    } else {
        reply.complete = false;
    }
    const Done done = std::move(m_done);
    deleteLater();
    if (done)
        done(reply);
}
