#pragma once

#include "TestSupport.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <optional>

#include <sys/socket.h>

// One response as the client saw it; nothing when a line of its head does
// not end in CR LF.
struct HTTPResponse
{
    QByteArray statusLine, head, body;

    std::optional<QByteArray> header(const QByteArray &name) const
    {
        const qsizetype at = head.indexOf("\r\n" + name + ": ");
        if (at < 0)
            return std::nullopt;
        const qsizetype start = at + name.size() + 4;
        return head.mid(start, head.indexOf("\r\n", start) - start);
    }

    static std::optional<HTTPResponse> parse(const QByteArray &bytes)
    {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        const QByteArray head = bytes.left(end + 2);
        if (end < 0 || head.count('\n') != head.count("\r\n"))
            return std::nullopt;
        return HTTPResponse{bytes.left(bytes.indexOf("\r\n")), head, bytes.mid(end + 4)};
    }
};

// A test client on a raw TCP socket, driven by the event loop so that code
// on the main thread (the router) keeps running while it waits. It sends any
// bytes in any pieces; a stalled client reads nothing until it resumes.
class RawClient
{
public:
    explicit RawClient(quint16 port, bool stalled = false)
    {
        if (stalled)
            m_socket.setReadBufferSize(1); // one byte; the rest stays in the kernel buffers
        else
            resume();
        QObject::connect(&m_socket, &QTcpSocket::disconnected, [this] { m_closed = true; });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        testsupport::waitUntil([this] {
            return m_socket.state() == QAbstractSocket::ConnectedState || m_socket.state() == QAbstractSocket::UnconnectedState;
        });
    }

    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        testsupport::waitUntil([this] { return m_socket.bytesToWrite() == 0 || m_closed; });
    }
    void close() { m_socket.abort(); }
    void shutdownSending() { ::shutdown(int(m_socket.socketDescriptor()), SHUT_WR); }
    void resume()
    {
        m_socket.setReadBufferSize(0);
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_received += m_socket.readAll(); });
        m_received += m_socket.readAll();
    }
    bool hasUnreadBytes() const { return m_socket.bytesAvailable() > 0; }
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return testsupport::waitUntil([this] { return m_closed; }, timeout);
    }
    bool waitForBytes(qsizetype count) { return testsupport::waitUntil([&] { return m_received.size() >= count; }); }
    // The whole answer, once the server has closed the connection.
    std::optional<HTTPResponse> response() { return waitForClose() ? HTTPResponse::parse(m_received) : std::nullopt; }
    const QByteArray &received() const { return m_received; }
    quint16 localPort() const { return m_socket.localPort(); }
    bool isClosed() const { return m_closed; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
    bool m_closed = false;
};

// Sends one request on a new connection and answers everything received
// until the server closed it (empty when it did not close in time).
inline QByteArray exchange(quint16 port, const QByteArray &request)
{
    RawClient client(port);
    client.send(request);
    return client.waitForClose() ? client.received() : QByteArray();
}
