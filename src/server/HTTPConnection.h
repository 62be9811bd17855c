#pragma once

#include "HTTPRequest.h"
#include "HTTPRequestParser.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTcpSocket;

// One accepted TCP connection, living on the server thread. It reads exactly
// one request, hands it on, writes one response (a whole message, or a file
// streamed in pieces) and closes. A connection that ends early, overflows its
// buffer or stalls is cancelled without an answer; cancelling closes any open
// file at once.
class HTTPConnection : public QObject
{
    Q_OBJECT

public:
    using Request = HTTPRequest;

    // How long a socket may stall. A client must deliver its whole request
    // within requestTimeout of connecting, so one that sends nothing or
    // trickles bytes forever is dropped. A whole-message answer (and the
    // wait for it to be ready) may stall for sendStallTimeout. A file answer
    // may stall for fileStallTimeout without progress: a player paused on a
    // recording stops reading for as long as its viewer is away, and costs
    // only its descriptor and one piece meanwhile. Peers that are really
    // gone are found by TCP keepalive (a probe after keepAliveIdle without
    // traffic, then every keepAliveInterval, dropped after keepAliveProbes
    // unanswered ones) or by the kernel's retransmission limits. After the
    // response the client has lingerTimeout to close its side.
    struct Timing
    {
        std::chrono::milliseconds requestTimeout{30000};
        std::chrono::milliseconds sendStallTimeout{60000};
        std::chrono::milliseconds fileStallTimeout{std::chrono::hours(6)};
        std::chrono::milliseconds lingerTimeout{2000};
        std::chrono::seconds keepAliveIdle{60};
        std::chrono::seconds keepAliveInterval{10};
        int keepAliveProbes = 6;
    };

    static constexpr qint64 kReceiveSize = 65536;
    static constexpr qsizetype kMaximumBufferedRequest = 81920;
    static constexpr qint64 kPieceSize = 1048576;

    // Called on the connection's thread with the request and its non-empty
    // path segments; the answer may follow later through send or serveFile.
    using RequestHandler = std::function<void(const Request &request, const QStringList &segments)>;

    HTTPConnection(QTcpSocket *socket, Timing timing, RequestHandler handler, QObject *parent = nullptr);
    ~HTTPConnection() override;

    void start();

    // Writes one whole response and closes the connection once the bytes are
    // handed to the network. Without a body, the status text is the body;
    // headOnly leaves the body out and keeps its length.
    void send(const QByteArray &status, const QByteArray &contentType,
              const std::optional<QByteArray> &body = std::nullopt, bool headOnly = false);

    // Answers from a file, whole or the one byte range asked for, with the
    // file's size taken now; none or an unreadable or empty file is a 404.
    void serveFile(const std::optional<QString> &path, const std::optional<QString> &range, bool headOnly);

    // Drops the connection without (further) answer and closes the file.
    void cancel();

    static QStringList segments(const QString &path);

signals:
    // The connection is finished with; it may be deleted.
    void closed();

private:
    void receiveAvailable();
    void stopReading();
    void handle(const Request &request);
    bool beginAnswer();
    void write(const QByteArray &bytes, std::function<void()> whenTaken);
    void writeThenClose(const QByteArray &bytes);
    void bytesTaken();
    void sendChunk(qint64 offset, qint64 remaining);
    void sendPiece();
    void waitUntilWritable();
    void socketWritable();
    void finish();
    void setCorked(bool corked);
    void enableKeepAlive();
    void closeFile();

    QTcpSocket *m_socket;
    Timing m_timing;
    RequestHandler m_handler;
    HTTPRequestParser m_parser;
    bool m_requestComplete = false;
    bool m_answered = false;
    bool m_lingering = false;
    bool m_closed = false;
    bool m_corked = false;
    std::unique_ptr<QFile> m_fileHandle;
    // The file piece being handed to the socket: the next byte to send,
    // what is left of the piece, and what is left of the whole answer.
    struct Piece
    {
        qint64 offset = 0;
        qint64 left = 0;
        qint64 remaining = 0;
    };
    Piece m_piece;
    // Tells when the socket takes more file bytes; made on first use and
    // enabled only while a piece waits for room or the next piece waits for
    // its turn.
    QSocketNotifier *m_writable = nullptr;
    std::function<void()> m_whenTaken;
    // Bounds the current wait: for the request, for the client to take
    // bytes, or for it to close after the response.
    QTimer m_watchdog;
    // How long the answer being sent may go without progress.
    std::chrono::milliseconds m_stallBound;
};
