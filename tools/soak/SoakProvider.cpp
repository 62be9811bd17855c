#include "SoakProvider.h"

#include "SoakContent.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Bytes a piece may have queued in its socket before it waits for the client.
constexpr qint64 kQueuedHighWater = 512 * 1024;

} // namespace

struct SoakProvider::Connection
{
    QTcpSocket *socket = nullptr;
    QByteArray received;
    bool answered = false;
    int stream = -1;
    qint64 remaining = 0;
    QTimer *pacer = nullptr;
};

SoakProvider::SoakProvider(Settings settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_random(QRandomGenerator::securelySeeded())
{
    connect(&m_server, &QTcpServer::newConnection, this, &SoakProvider::accept);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("soak provider could not listen: %s", qPrintable(m_server.errorString()));
}

SoakProvider::~SoakProvider()
{
    for (QTcpSocket *socket : m_connections.keys()) {
        socket->disconnect(this);
        socket->abort();
    }
}

QUrl SoakProvider::url(int stream) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/live/%2.ts").arg(m_server.serverPort()).arg(stream));
}

void SoakProvider::goQuiet()
{
    m_quiet = true;
}

void SoakProvider::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        m_connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { readRequest(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
    }
}

void SoakProvider::forget(QTcpSocket *socket)
{
    const auto connection = m_connections.take(socket);
    if (connection && connection->pacer)
        connection->pacer->stop();
    socket->disconnect(this);
    socket->deleteLater();
}

void SoakProvider::readRequest(const std::shared_ptr<Connection> &connection)
{
    QTcpSocket *socket = connection->socket;
    connection->received += socket->readAll();
    if (connection->answered || !connection->received.contains("\r\n\r\n"))
        return;
    connection->answered = true;

    static const QRegularExpression target(QStringLiteral("^GET /live/(\\d+)\\.ts "));
    const auto match = target.match(QString::fromLatin1(connection->received));
    if (!match.hasMatch()) {
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    connection->stream = match.captured(1).toInt();
    StreamFigures &figures = m_streams[connection->stream];
    const double roll = m_random.generateDouble();
    if (m_quiet || roll < m_settings.fullChance) {
        ++figures.refusals;
        socket->write("HTTP/1.1 509 Bandwidth Limit Exceeded\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    if (roll < m_settings.fullChance + m_settings.dropChance) {
        ++figures.drops;
        socket->abort();
        return;
    }
    ++figures.pieces;
    connection->remaining =
        m_settings.shortestPiece
        + qint64(m_random.generateDouble() * double(m_settings.longestPiece - m_settings.shortestPiece));
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: video/mp2t\r\nConnection: close\r\n\r\n");
    connection->pacer = new QTimer(socket);
    connect(connection->pacer, &QTimer::timeout, this, [this, connection] { writeChunk(connection); });
    connection->pacer->start(m_settings.chunkInterval);
}

void SoakProvider::writeChunk(const std::shared_ptr<Connection> &connection)
{
    QTcpSocket *socket = connection->socket;
    if (m_quiet)
        connection->remaining = 0;
    if (connection->remaining > 0 && socket->bytesToWrite() < kQueuedHighWater) {
        const qint64 length = std::min(connection->remaining, m_settings.chunkSize);
        StreamFigures &figures = m_streams[connection->stream];
        socket->write(soakContent(connection->stream, figures.sent, length));
        figures.sent += length;
        connection->remaining -= length;
    }
    if (connection->remaining <= 0) {
        connection->pacer->stop();
        socket->disconnectFromHost(); // after the queued bytes have gone out
    }
}
