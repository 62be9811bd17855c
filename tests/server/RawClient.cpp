#include "RawClient.h"

#include "TestSupport.h"

#include <QHostAddress>

#include <sys/socket.h>

RawClient::RawClient(quint16 port, Reading reading)
{
    if (reading == Reading::Stalled) {
        // Takes one byte and then leaves everything in the kernel buffers.
        m_socket.setReadBufferSize(1);
    } else {
        resume();
    }
    QObject::connect(&m_socket, &QTcpSocket::disconnected, [this] { m_closed = true; });
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    testsupport::waitUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState || m_socket.state() == QAbstractSocket::UnconnectedState; });
}

void RawClient::shutdownSending()
{
    ::shutdown(int(m_socket.socketDescriptor()), SHUT_WR);
}

void RawClient::resume()
{
    m_socket.setReadBufferSize(0);
    QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_received += m_socket.readAll(); });
    m_received += m_socket.readAll();
}

void RawClient::send(const QByteArray &bytes)
{
    m_socket.write(bytes);
    testsupport::waitUntil([this] { return m_socket.bytesToWrite() == 0 || m_closed; });
}

bool RawClient::waitForClose(std::chrono::milliseconds timeout)
{
    return testsupport::waitUntil([this] { return m_closed; }, timeout);
}

bool RawClient::waitForBytes(qsizetype count)
{
    testsupport::waitUntil([this, count] { return m_received.size() >= count || m_closed; });
    return m_received.size() >= count;
}

std::optional<QByteArray> HTTPResponse::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key == name)
            return value;
    }
    return std::nullopt;
}

std::optional<HTTPResponse> HTTPResponse::parse(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    // Every line of the head ends in CR LF; the last piece is empty.
    const QList<QByteArray> lines = bytes.left(end + 2).split('\n');
    HTTPResponse response;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (!line.endsWith('\r'))
            return std::nullopt;
        line.chop(1);
        if (i == 0) {
            response.statusLine = line;
            continue;
        }
        const qsizetype colon = line.indexOf(": ");
        if (colon < 0)
            return std::nullopt;
        response.headers.append({line.left(colon), line.mid(colon + 2)});
    }
    response.body = bytes.mid(end + 4);
    return response;
}

QByteArray exchange(quint16 port, const QByteArray &request)
{
    RawClient client(port);
    client.send(request);
    return client.waitForClose() ? client.received() : QByteArray();
}
