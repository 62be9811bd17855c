#include "HTTPConnection.h"

#include "ByteRange.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

namespace {

const QByteArray kCRLF = QByteArrayLiteral("\r\n");
const QByteArray kPlainText = QByteArrayLiteral("text/plain; charset=utf-8");

// Without a body, the status text is the body. An answer to HEAD carries
// the header of the whole answer and no body.
QByteArray wholeResponse(const QByteArray &status, const QByteArray &contentType,
                         const std::optional<QByteArray> &body, bool headOnly = false)
{
    const QByteArray payload = body.value_or(status);
    QByteArray message = "HTTP/1.1 " + status + kCRLF;
    message += "Content-Type: " + contentType + kCRLF;
    message += "Content-Length: " + QByteArray::number(payload.size()) + kCRLF;
    message += "Connection: close" + kCRLF + kCRLF;
    return headOnly ? message : message + payload;
}

QByteArray fileHeader(const ByteRange &range, qint64 total)
{
    const bool partial = range.kind == ByteRange::Kind::Partial;
    QByteArray header = "HTTP/1.1 " + QByteArray(partial ? "206 Partial Content" : "200 OK") + kCRLF;
    header += "Content-Type: video/mp2t" + kCRLF;
    header += "Accept-Ranges: bytes" + kCRLF;
    header += "Content-Length: " + QByteArray::number(range.length()) + kCRLF;
    if (partial) {
        header += "Content-Range: bytes " + QByteArray::number(range.start) + '-'
                  + QByteArray::number(range.end) + '/' + QByteArray::number(total) + kCRLF;
    }
    header += "Connection: close" + kCRLF + kCRLF;
    return header;
}

QByteArray notSatisfiableHeader(qint64 total)
{
    return "HTTP/1.1 416 Range Not Satisfiable" + kCRLF + "Content-Range: bytes */"
           + QByteArray::number(total) + kCRLF + "Content-Length: 0" + kCRLF + "Connection: close"
           + kCRLF + kCRLF;
}

// sendfile(2) has no MSG_NOSIGNAL: a peer that is gone would raise SIGPIPE,
// which ends the process. The signal is held back on this thread for the
// call, and one that the call raised is taken off again, so a gone peer only
// shows as the error EPIPE.
ssize_t sendFileQuietly(int socket, int file, off_t *offset, size_t count)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t sent = ::sendfile(socket, file, offset, count);
    const int error = errno;
    // The peer may also go while the call is under way, which then returns
    // what it sent and still raises the signal: whatever the call returned, a
    // signal that was not pending before is taken off.
    if (!alreadyPending) {
        const timespec noWait{};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return sent;
}

} // namespace

HTTPConnection::HTTPConnection(QTcpSocket *socket, Timing timing, RequestHandler handler, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_timing(timing)
    , m_handler(std::move(handler))
    , m_stallBound(timing.sendStallTimeout)
{
    m_socket->setParent(this);
    // Bounds what the socket buffers on our behalf, also after the request,
    // when nothing more is read from it.
    m_socket->setReadBufferSize(kReceiveSize);
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &HTTPConnection::cancel);
}

HTTPConnection::~HTTPConnection() = default;

void HTTPConnection::start()
{
    connect(m_socket, &QTcpSocket::readyRead, this, &HTTPConnection::receiveAvailable);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HTTPConnection::bytesTaken);
    // An error, or the peer ending its side, cancels the connection.
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HTTPConnection::cancel);
    connect(m_socket, &QTcpSocket::disconnected, this, &HTTPConnection::cancel);
    m_watchdog.start(m_timing.requestTimeout);
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        cancel();
        return;
    }
    enableKeepAlive();
    receiveAvailable();
}

void HTTPConnection::receiveAvailable()
{
    if (m_lingering) {
        m_socket->readAll();
        return;
    }
    while (!m_requestComplete && !m_closed && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(kReceiveSize);
        if (const auto request = m_parser.append(bytes)) {
            m_requestComplete = true;
            // The client is no longer watched once nothing is read; the
            // answer must come within the stall bound.
            m_watchdog.start(m_stallBound);
            stopReading();
            handle(*request);
            return;
        }
        if (m_parser.bufferedSize() > kMaximumBufferedRequest) {
            cancel();
            return;
        }
    }
}

// Nothing after the first request is read. The socket is left holding one
// unread byte and allowed to buffer no more than that, so it stops reading
// from the network altogether: later bytes cost no memory, and a client
// that ends its sending side after the request still gets its answer.
void HTTPConnection::stopReading()
{
    m_socket->ungetChar(' ');
    m_socket->setReadBufferSize(1);
}

QStringList HTTPConnection::segments(const QString &path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

void HTTPConnection::handle(const Request &request)
{
    m_handler(request, segments(request.path));
}

// One request, one answer: a second answer for the same request is ignored.
bool HTTPConnection::beginAnswer()
{
    if (m_closed || !m_requestComplete || m_answered)
        return false;
    m_answered = true;
    return true;
}

void HTTPConnection::send(const QByteArray &status, const QByteArray &contentType,
                          const std::optional<QByteArray> &body, bool headOnly)
{
    if (beginAnswer())
        writeThenClose(wholeResponse(status, contentType, body, headOnly));
}

void HTTPConnection::serveFile(const std::optional<QString> &path, const std::optional<QString> &range,
                               bool headOnly)
{
    if (!beginAnswer())
        return;
    auto file = path ? std::make_unique<QFile>(*path) : nullptr;
    // Unbuffered: every piece is read afresh at its offset, also while the
    // file is still being written.
    if (!file || !file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        writeThenClose(wholeResponse("404 Not Found", kPlainText, std::nullopt));
        return;
    }
    const qint64 total = file->size();
    if (total <= 0) {
        writeThenClose(wholeResponse("404 Not Found", kPlainText, std::nullopt));
        return;
    }
    const ByteRange byteRange = ByteRange::resolve(range, total);
    if (byteRange.kind == ByteRange::Kind::Unsatisfiable) {
        writeThenClose(notSatisfiableHeader(total));
        return;
    }
    const QByteArray header = fileHeader(byteRange, total);
    if (headOnly) {
        writeThenClose(header);
        return;
    }
    m_fileHandle = std::move(file);
    m_stallBound = m_timing.fileStallTimeout;
    // Corked, the socket sends only full segments: the header goes out with
    // the first body bytes, and the body in the largest segments the link
    // takes, which roughly doubles what one connection carries over a fast
    // link. Closing the file uncorks it, which sends what is left at once.
    setCorked(true);
    write(header, [this, byteRange] {
        // The body starts on the next round of the event loop, once the
        // socket has switched off its own write notification, which is
        // still on while it reports the header's bytes.
        QMetaObject::invokeMethod(
            this, [this, byteRange] { sendChunk(byteRange.start, byteRange.length()); }, Qt::QueuedConnection);
    });
}

void HTTPConnection::sendChunk(qint64 offset, qint64 remaining)
{
    if (m_closed)
        return;
    if (!m_fileHandle) {
        cancel();
        return;
    }
    if (remaining <= 0) {
        closeFile();
        finish();
        return;
    }
    m_piece = {offset, qMin(remaining, kPieceSize), remaining};
    // The wait for the header's bytes has ended; the body has its own bound.
    if (!m_watchdog.isActive())
        m_watchdog.start(m_stallBound);
    sendPiece();
}

// Hands the current piece to the socket straight from the file with
// sendfile(2), as far as the socket takes it, so the bytes never pass
// through this process. When the socket is full the rest waits until it has
// room; once the whole piece is taken, the next one follows on the next
// round of the event loop, so other connections get their turn between
// pieces. Each piece is sent from its own offset; a file that ends before
// the answer does (it was shortened) cancels the connection.
void HTTPConnection::sendPiece()
{
    const int socket = int(m_socket->socketDescriptor());
    while (m_piece.left > 0) {
        off_t position = off_t(m_piece.offset);
        const ssize_t sent = sendFileQuietly(socket, m_fileHandle->handle(), &position, size_t(m_piece.left));
        if (sent > 0) {
            m_piece.offset += sent;
            m_piece.left -= sent;
            m_piece.remaining -= sent;
            // Progress: the client is still reading.
            m_watchdog.start(m_stallBound);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitUntilWritable();
            return;
        }
        cancel();
        return;
    }
    waitUntilWritable();
}

void HTTPConnection::waitUntilWritable()
{
    if (!m_writable) {
        m_writable = new QSocketNotifier(m_socket->socketDescriptor(), QSocketNotifier::Write, this);
        connect(m_writable, &QSocketNotifier::activated, this, &HTTPConnection::socketWritable);
    }
    m_writable->setEnabled(true);
}

void HTTPConnection::socketWritable()
{
    m_writable->setEnabled(false);
    if (m_closed)
        return;
    if (m_piece.left > 0)
        sendPiece();
    else
        sendChunk(m_piece.offset, m_piece.remaining);
}

void HTTPConnection::write(const QByteArray &bytes, std::function<void()> whenTaken)
{
    m_whenTaken = std::move(whenTaken);
    if (m_socket->write(bytes) != bytes.size())
        cancel();
    if (m_closed)
        return;
    m_watchdog.start(m_stallBound);
}

void HTTPConnection::writeThenClose(const QByteArray &bytes)
{
    closeFile();
    write(bytes, [this] { finish(); });
}

void HTTPConnection::bytesTaken()
{
    if (m_closed || !m_whenTaken)
        return;
    if (m_socket->bytesToWrite() > 0) {
        // Progress: the client is still reading.
        m_watchdog.start(m_stallBound);
        return;
    }
    m_watchdog.stop();
    const auto next = std::exchange(m_whenTaken, nullptr);
    next();
}

// The response is with the network. Our sending side ends (the client sees
// the end after the last byte), and whatever the client still sends is read
// and dropped until it closes too: closing with unread bytes would reset the
// connection and could destroy the response's tail before the client has it.
void HTTPConnection::finish()
{
    closeFile();
    const auto descriptor = m_socket->socketDescriptor();
    if (descriptor < 0 || ::shutdown(int(descriptor), SHUT_WR) != 0) {
        cancel();
        return;
    }
    m_lingering = true;
    m_watchdog.start(m_timing.lingerTimeout);
    m_socket->setReadBufferSize(kReceiveSize);
    receiveAvailable();
}

void HTTPConnection::setCorked(bool corked)
{
    if (m_corked == corked)
        return;
    m_corked = corked;
    const int value = corked ? 1 : 0;
    ::setsockopt(int(m_socket->socketDescriptor()), IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

// Probes a connection that carries no traffic, so that a peer that went away
// without a word (switched off, out of the network) is released even while
// nothing else bounds the wait. Where the kernel refuses, the connection
// still works, with the stall bounds alone.
void HTTPConnection::enableKeepAlive()
{
    const int descriptor = int(m_socket->socketDescriptor());
    const int on = 1;
    const int idle = int(m_timing.keepAliveIdle.count());
    const int interval = int(m_timing.keepAliveInterval.count());
    const int probes = m_timing.keepAliveProbes;
    ::setsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

void HTTPConnection::closeFile()
{
    setCorked(false);
    if (m_writable)
        m_writable->setEnabled(false);
    if (m_fileHandle) {
        m_fileHandle->close();
        m_fileHandle.reset();
    }
}

void HTTPConnection::cancel()
{
    if (m_closed)
        return;
    m_closed = true;
    m_watchdog.stop();
    m_whenTaken = nullptr;
    closeFile();
    m_socket->abort();
    emit closed();
}
