#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QTcpSocket>
#include <chrono>
#include <optional>

// A test client on a raw TCP socket, driven by the event loop so that code
// on the main thread (the router) keeps running while it waits. It can send
// any bytes in any pieces, and can stop reading altogether.
class RawClient
{
public:
    enum class Reading { Normal, Stalled };

    explicit RawClient(quint16 port, Reading reading = Reading::Normal);

    void send(const QByteArray &bytes);
    void close() { m_socket.abort(); }
    // Ends the client's sending side; it can still receive.
    void shutdownSending();
    // A stalled client starts reading.
    void resume();
    // Bytes have arrived that the client has not read yet.
    bool hasUnreadBytes() const { return m_socket.bytesAvailable() > 0; }

    // Wait until the server has closed the connection, or until as many
    // bytes have arrived; answer whether that happened.
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForBytes(qsizetype count);
    const QByteArray &received() const { return m_received; }
    quint16 localPort() const { return m_socket.localPort(); }
    bool isClosed() const { return m_closed; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
    bool m_closed = false;
};

// One response as the client saw it.
struct HTTPResponse
{
    QByteArray statusLine;
    QList<QPair<QByteArray, QByteArray>> headers; // in the order sent
    QByteArray body;

    std::optional<QByteArray> header(const QByteArray &name) const;

    static std::optional<HTTPResponse> parse(const QByteArray &bytes);
};

// Sends one request on a new connection and answers everything received
// until the server closed it (empty when it did not close in time).
QByteArray exchange(quint16 port, const QByteArray &request);
