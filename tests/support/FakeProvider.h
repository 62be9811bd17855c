#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <memory>

class QTcpSocket;

// An IPTV provider's HTTP server on 127.0.0.1 (ephemeral port). The n-th request of a path gets the n-th of its
// answers and the last one repeats; unknown paths get 404. Stream answers of one path continue one byte sequence
// (content()), so a client that reconnects after a drop gets the bytes that follow those it has. Each connection
// carries one request and the server closes it after the answer. Lives on the thread that creates it, whose event
// loop must run while clients talk to it.
class FakeProvider : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        enum class Kind { Stream, Silence, Body, EndlessHead };
        Kind kind = Kind::Stream;
        int code = 200;                        // HTTP status of Body
        qint64 bytes = -1;                     // Stream: bytes before the server closes; -1 endless
        qint64 chunkSize = 64 * 1024;          // Stream: bytes per write; EndlessHead: bytes per header line
        std::chrono::milliseconds interval{0}; // Stream, EndlessHead: pause between writes; 0 as fast as read
        QByteArray location{};                 // Body: a Location header unless empty
        QByteArray payload{};                  // Body
        QByteArray contentType{};              // Body

        // 200 and the path's next bytes as fast as the client reads them, or
        // one chunk per interval.
        static Answer stream(qint64 bytes = -1) { return {.bytes = bytes}; }
        static Answer slowStream(qint64 chunkSize, std::chrono::milliseconds interval, qint64 bytes = -1)
        {
            return {.bytes = bytes, .chunkSize = chunkSize, .interval = interval};
        }
        // The given status with a short text body.
        static Answer status(int code) { return body("status " + QByteArray::number(code) + '\n', "text/plain", code); }
        // 200 headers, then nothing; the connection stays open.
        static Answer silence() { return {.kind = Kind::Silence}; }
        static Answer redirect(const QByteArray &location)
        {
            return {.kind = Kind::Body, .code = 302, .location = location};
        }
        static Answer body(const QByteArray &body,
                           const QByteArray &contentType = QByteArrayLiteral("application/vnd.apple.mpegurl"),
                           int code = 200)
        {
            return {.kind = Kind::Body, .code = code, .payload = body, .contentType = contentType};
        }
        // A status line, then header lines that never end, one per interval
        // (0: as fast as the client reads).
        static Answer endlessHead(std::chrono::milliseconds interval, qint64 lineSize)
        {
            return {.kind = Kind::EndlessHead, .chunkSize = std::max<qint64>(lineSize, 16), .interval = interval};
        }
    };

    struct Request
    {
        QByteArray method;
        QByteArray target; // path and query as sent
        QString path;      // decoded path without the query
        QHash<QByteArray, QByteArray> headers; // names in lower case
        std::chrono::steady_clock::time_point receivedAt;

        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };

    explicit FakeProvider(QObject *parent = nullptr);
    ~FakeProvider() override { closeConnections(); }

    // "http://127.0.0.1:<port>" followed by the path (and query).
    QUrl url(const QString &pathAndQuery) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(pathAndQuery));
    }

    void serve(const QString &path, const QList<Answer> &answers)
    {
        m_answers.insert(path, answers);
        m_answered.remove(path);
    }
    void serve(const QString &path, const Answer &answer) { serve(path, QList<Answer>{answer}); }

    QList<Request> requests() const { return m_requests; }
    QList<Request> requests(const QString &path) const;
    int requestCount(const QString &path) const { return int(requests(path).size()); }
    // Stream bytes of the path handed to clients so far.
    qint64 bytesSent(const QString &path) const { return m_cursors.value(path); }
    int openConnections() const { return int(m_connections.size()); }
    // Drops every open connection at once, as a server that goes away.
    void closeConnections();

    // The byte sequence that stream answers serve: transport-stream sized
    // packets (a 0x47 sync byte every 188 bytes) filled with bytes that
    // depend on their position, so shifted or repeated data never matches.
    static QByteArray content(qint64 offset, qint64 length);

private:
    struct Connection;

    void accept();
    void readRequest(const std::shared_ptr<Connection> &connection);
    void answer(const std::shared_ptr<Connection> &connection, const Request &request);
    void pump(const std::shared_ptr<Connection> &connection);
    void writeChunk(const std::shared_ptr<Connection> &connection);

    QTcpServer m_server;
    QHash<QString, QList<Answer>> m_answers;
    QHash<QString, int> m_answered;
    QHash<QString, qint64> m_cursors;
    QList<Request> m_requests;
    QHash<QTcpSocket *, std::shared_ptr<Connection>> m_connections;
};
