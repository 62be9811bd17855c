#include "CaptureTransfer.h"

#include "CaptureSession.h"
#include "RecorderMessages.h"

#include <curl/curl.h>
#include <sys/socket.h>

namespace {

// Redirects followed in a row before the transfer fails.
constexpr long kMostRedirects = 20;

} // namespace

CaptureTransfer::CaptureTransfer(CaptureSession &session, const Request &request, Events events)
    : m_session(session),
      m_request(request),
      m_events(std::move(events)),
      m_easy(curl_easy_init()),
      m_url(request.url.toString(QUrl::FullyEncoded).toUtf8())
{
    curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(m_easy, CURLOPT_URL, m_url.constData());
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, m_request.userAgent.constData());
    // Only http and https, for the address and for every redirect: nothing
    // the provider says can make the recorder read files or other schemes.
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, kMostRedirects);
    // Providers are reached directly, whatever the environment names.
    curl_easy_setopt(m_easy, CURLOPT_PROXY, "");
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, readSize);
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CaptureTransfer::onHeader);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CaptureTransfer::onData);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    if (m_request.range) {
        m_rangeText = QByteArray::number(m_request.range->offset) + '-'
                    + QByteArray::number(m_request.range->end() - 1);
        curl_easy_setopt(m_easy, CURLOPT_RANGE, m_rangeText.constData());
    }

    // The idle timer runs from the start until the head is complete and the
    // body flows, and again from every read of the body: a head that never
    // ends counts as silence.
    m_idle.setSingleShot(true);
    QObject::connect(&m_idle, &QTimer::timeout, &m_session, [this] {
        m_session.cancel(this);
        if (m_events.done)
            m_events.done(RecorderMessages::timedOut());
    });
    m_flush.setSingleShot(true);
    QObject::connect(&m_flush, &QTimer::timeout, &m_session, [this] { flush(); });
}

CaptureTransfer::~CaptureTransfer()
{
    curl_easy_cleanup(m_easy);
}

size_t CaptureTransfer::onHeader(char *line, size_t size, size_t count, void *self)
{
    auto *transfer = static_cast<CaptureTransfer *>(self);
    const size_t length = size * count;
    if (transfer->m_cancelled)
        return 0;
    transfer->m_headBytes += qint64(length);
    if (transfer->m_headBytes > longestHead) {
        transfer->m_headTooLong = true;
        return 0;
    }
    transfer->headLine(QByteArray(line, qsizetype(length)));
    return length;
}

void CaptureTransfer::headLine(const QByteArray &line)
{
    if (line.startsWith("HTTP/")) {
        m_head = Head{}; // a new response, after a redirect or an interim answer
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArray name = line.left(colon).trimmed().toLower();
    if (name == "content-type")
        m_head.contentType = line.mid(colon + 1).trimmed();
    else if (name == "content-range")
        m_head.contentRange = line.mid(colon + 1).trimmed();
}

size_t CaptureTransfer::onData(char *data, size_t size, size_t count, void *self)
{
    auto *transfer = static_cast<CaptureTransfer *>(self);
    const size_t length = size * count;
    if (transfer->m_cancelled)
        return CURL_WRITEFUNC_ERROR;
    if (!transfer->m_headDelivered) {
        transfer->deliverHead();
        if (transfer->m_cancelled)
            return CURL_WRITEFUNC_ERROR;
    }
    transfer->m_readSinceFlush = true;
    transfer->m_idle.start(transfer->m_request.idleTimeout);
    if (!transfer->m_request.batched) {
        if (transfer->m_events.data)
            transfer->m_events.data(data, qsizetype(length));
        return transfer->m_cancelled ? CURL_WRITEFUNC_ERROR : length;
    }
    // The first data, or the first after a pause: batching starts (again).
    if (transfer->m_batchLimit == 1) {
        transfer->setBatchLimit(batchSize);
        transfer->m_batch.reserve(readSize);
    }
    transfer->m_flush.start(flushInterval);
    // Handed out once the client returns, or at once when the client goes
    // on reading a fast stream in one go.
    transfer->m_batch.append(data, qsizetype(length));
    if (transfer->m_batch.size() >= readSize)
        transfer->deliverBatch();
    return transfer->m_cancelled ? CURL_WRITEFUNC_ERROR : length;
}

void CaptureTransfer::deliverBatch()
{
    if (m_batch.isEmpty() || m_cancelled)
        return;
    if (m_events.data)
        m_events.data(m_batch.constData(), m_batch.size());
    m_batch.resize(0); // keeps its capacity for the next wake-up
}

void CaptureTransfer::deliverHead()
{
    m_headDelivered = true;
    long status = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    m_head.status = int(status);
    curl_off_t length = -1;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    m_head.contentLength = length;
    if (m_events.head)
        m_events.head(m_head);
}

void CaptureTransfer::complete(int code)
{
    // A complete answer without a body still has a head to hand out first.
    if (!m_headDelivered && code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
        if (status > 0) {
            deliverHead();
            if (m_cancelled)
                return;
        }
    }
    if (m_events.done)
        m_events.done(failureDescription(code));
}

QString CaptureTransfer::failureDescription(int code) const
{
    if (m_headTooLong)
        return RecorderMessages::headTooLong(longestHead);
    switch (code) {
    case CURLE_OK:
        return {};
    case CURLE_UNSUPPORTED_PROTOCOL:
        return RecorderMessages::unsupportedAddress();
    case CURLE_OPERATION_TIMEDOUT:
        return RecorderMessages::timedOut();
    default:
        return m_errorText[0] ? QString::fromUtf8(m_errorText) : QString::fromUtf8(curl_easy_strerror(CURLcode(code)));
    }
}

void CaptureTransfer::stopWaiting()
{
    m_idle.stop();
    m_flush.stop();
    // A connection the client keeps for a later request must wake its
    // thread for every byte again.
    if (m_batchLimit != 1)
        setBatchLimit(1);
}

void CaptureTransfer::flush()
{
    if (m_socket < 0)
        return;
    m_readSinceFlush = false;
    // Reads what the kernel holds, however little.
    m_session.drive(m_socket, CURL_CSELECT_IN);
    // Nothing came: the stream pauses. The next arrival wakes the thread at
    // once, and the batching starts again from there.
    if (!m_readSinceFlush && !m_cancelled && !m_ended)
        setBatchLimit(1);
}

void CaptureTransfer::setBatchLimit(int bytes)
{
    if (m_socket < 0)
        return;
    // The socket is readable for poll only once this much is waiting (or it
    // is closed), so a trickle of small writes wakes this thread once per
    // batch rather than once per write.
    if (setsockopt(m_socket, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes) == 0)
        m_batchLimit = bytes;
}
