#include "FakeProvider.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <iterator>

namespace {

constexpr qsizetype kLongestRequestHead = 64 * 1024;
// A full-speed stream keeps at most this much queued in its socket.
constexpr qint64 kQueuedHighWater = 256 * 1024;
constexpr int kPacketSize = 188;

QByteArray head(int status, const QList<QByteArray> &fields)
{
    static const QHash<int, QByteArray> reasons{{200, "OK"}, {302, "Found"}, {403, "Forbidden"}, {404, "Not Found"},
                                                {500, "Internal Server Error"}, {509, "Bandwidth Limit Exceeded"}};
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status, "Status") + "\r\n";
    for (const QByteArray &field : fields)
        text += field + "\r\n";
    return text + "Connection: close\r\n\r\n";
}

} // namespace

struct FakeProvider::Connection
{
    QTcpSocket *socket = nullptr;
    QByteArray received;
    bool answered = false;
    bool streaming = false;
    QString path;
    Answer answer;
    qint64 remaining = -1; // stream bytes still to send; -1 endless
};

FakeProvider::FakeProvider(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeProvider::accept);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("fake provider could not listen: %s", qPrintable(m_server.errorString()));
}

void FakeProvider::closeConnections()
{
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        it.value()->streaming = false;
        it.key()->disconnect(this);
        it.key()->abort();
        it.key()->deleteLater();
    }
    m_connections.clear();
}

QList<FakeProvider::Request> FakeProvider::requests(const QString &path) const
{
    QList<Request> matching;
    std::copy_if(m_requests.cbegin(), m_requests.cend(), std::back_inserter(matching),
                 [&path](const Request &request) { return request.path == path; });
    return matching;
}

QByteArray FakeProvider::content(qint64 offset, qint64 length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (qint64 i = 0; i < length; ++i) {
        const quint64 position = quint64(offset + i);
        const quint64 mixed = position * 0x9E3779B97F4A7C15ULL;
        bytes[i] = position % kPacketSize == 0 ? char(0x47) : char((mixed ^ (mixed >> 29)) >> 24);
    }
    return bytes;
}

void FakeProvider::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        m_connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { readRequest(connection); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, connection] { pump(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->disconnect(this);
            socket->deleteLater();
        });
    }
}

void FakeProvider::readRequest(const std::shared_ptr<Connection> &connection)
{
    QTcpSocket *socket = connection->socket;
    connection->received += socket->readAll();
    if (connection->answered)
        return; // the body of a request, or a second request: not served
    const qsizetype end = connection->received.indexOf("\r\n\r\n");
    if (end < 0) {
        if (connection->received.size() > kLongestRequestHead)
            socket->abort();
        return;
    }
    connection->answered = true;

    const QList<QByteArray> lines = connection->received.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    request.path = QUrl::fromEncoded("http://fake" + request.target).path();
    request.receivedAt = std::chrono::steady_clock::now();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    m_requests.append(request);
    answer(connection, request);
}

void FakeProvider::answer(const std::shared_ptr<Connection> &connection, const Request &request)
{
    QTcpSocket *socket = connection->socket;
    const QList<Answer> answers = m_answers.value(request.path, {Answer::status(404)});
    const Answer &answer = answers.at(std::min<qsizetype>(m_answered[request.path]++, answers.size() - 1));
    connection->path = request.path;
    connection->answer = answer;

    switch (answer.kind) {
    case Answer::Kind::Body: {
        const QByteArray field = answer.location.isEmpty() ? "Content-Type: " + answer.contentType
                                                           : "Location: " + answer.location;
        const QByteArray length = "Content-Length: " + QByteArray::number(answer.payload.size());
        socket->write(head(answer.code, {field, length}) + answer.payload);
        socket->disconnectFromHost();
        return;
    }
    case Answer::Kind::Silence:
        socket->write(head(200, {"Content-Type: video/mp2t"}));
        return;
    case Answer::Kind::EndlessHead:
        // A small send buffer keeps little in flight, so a client sees the
        // end soon after this server closes.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
        socket->write("HTTP/1.1 200 OK\r\n");
        break;
    case Answer::Kind::Stream:
        // A live stream: no length, the body ends when the server closes.
        socket->write(head(200, {"Content-Type: video/mp2t"}));
        break;
    }

    connection->streaming = true;
    connection->remaining = answer.bytes;
    if (answer.interval.count() > 0) {
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, this, [this, connection] { writeChunk(connection); });
        timer->start(answer.interval);
        writeChunk(connection);
    } else {
        pump(connection);
    }
}

void FakeProvider::pump(const std::shared_ptr<Connection> &connection)
{
    if (!connection->streaming || connection->answer.interval.count() > 0)
        return;
    while (connection->streaming && connection->socket->bytesToWrite() < kQueuedHighWater)
        writeChunk(connection);
}

void FakeProvider::writeChunk(const std::shared_ptr<Connection> &connection)
{
    if (!connection->streaming)
        return;
    if (connection->answer.kind == Answer::Kind::EndlessHead) {
        // Like a real server, it only writes as fast as the client reads.
        if (connection->socket->bytesToWrite() >= kQueuedHighWater)
            return;
        const qint64 filler = connection->answer.chunkSize - 12;
        connection->socket->write("X-Filler: " + QByteArray(filler, 'f') + "\r\n");
        return;
    }
    const qint64 remaining = connection->remaining;
    const qint64 length = remaining < 0 ? connection->answer.chunkSize
                                        : std::min(connection->answer.chunkSize, remaining);
    qint64 &cursor = m_cursors[connection->path];
    if (length > 0) {
        connection->socket->write(content(cursor, length));
        cursor += length;
    }
    if (remaining >= 0) {
        connection->remaining -= length;
        if (connection->remaining == 0) {
            connection->streaming = false;
            connection->socket->disconnectFromHost(); // after the queued bytes are sent
        }
    }
}
