#include "HTTPConnection.h"

#include "ByteRange.h"

#include <QTcpSocket>

#include <sys/socket.h>

namespace {

const QByteArray kCRLF = QByteArrayLiteral("\r\n");
const QByteArray kPlainText = QByteArrayLiteral("text/plain; charset=utf-8");

// Without a body, the status text is the body.
QByteArray wholeResponse(const QByteArray &status, const QByteArray &contentType,
                         const std::optional<QByteArray> &body)
{
    const QByteArray payload = body.value_or(status);
    QByteArray message = "HTTP/1.1 " + status + kCRLF;
    message += "Content-Type: " + contentType + kCRLF;
    message += "Content-Length: " + QByteArray::number(payload.size()) + kCRLF;
    message += "Connection: close" + kCRLF + kCRLF;
    return message + payload;
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

} // namespace

HTTPConnection::HTTPConnection(QTcpSocket *socket, Timing timing, RequestHandler handler, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_timing(timing)
    , m_handler(std::move(handler))
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
            m_watchdog.start(m_timing.sendStallTimeout);
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
                          const std::optional<QByteArray> &body)
{
    if (beginAnswer())
        writeThenClose(wholeResponse(status, contentType, body));
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
    write(header, [this, byteRange] { sendChunk(byteRange.start, byteRange.length()); });
}

void HTTPConnection::sendChunk(qint64 offset, qint64 remaining)
{
    if (!m_fileHandle) {
        cancel();
        return;
    }
    if (remaining <= 0) {
        closeFile();
        finish();
        return;
    }
    const qint64 pieceSize = qMin(remaining, kPieceSize);
    if (!m_fileHandle->seek(offset)) {
        cancel();
        return;
    }
    const QByteArray piece = m_fileHandle->read(pieceSize);
    // A failed read or a file shorter than it was ends the answer early.
    if (piece.isEmpty()) {
        cancel();
        return;
    }
    const qint64 sent = piece.size();
    write(piece, [this, offset, remaining, sent] { sendChunk(offset + sent, remaining - sent); });
}

void HTTPConnection::write(const QByteArray &bytes, std::function<void()> whenTaken)
{
    m_whenTaken = std::move(whenTaken);
    if (m_socket->write(bytes) != bytes.size())
        cancel();
    if (m_closed)
        return;
    m_watchdog.start(m_timing.sendStallTimeout);
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
        m_watchdog.start(m_timing.sendStallTimeout);
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

void HTTPConnection::closeFile()
{
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
