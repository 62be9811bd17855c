#include "HLSFetch.h"

#include "CaptureRequest.h"
#include "CaptureSession.h"
#include "RecorderMessages.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int kPartialContentStatus = 206;

// The first byte a "Content-Range: bytes first-last/size" header names, or
// none when there is no such header or it does not read.
std::optional<qint64> contentRangeStart(const QByteArray &contentRange)
{
    const QByteArray value = contentRange.trimmed();
    if (!value.startsWith("bytes "))
        return std::nullopt;
    const qsizetype dash = value.indexOf('-');
    bool ok = false;
    const qint64 first = value.mid(6, dash - 6).trimmed().toLongLong(&ok);
    return ok && dash > 6 ? std::optional(first) : std::nullopt;
}

} // namespace

HLSFetch::HLSFetch(CaptureSession &session, Kind kind, const QUrl &url,
                   const std::optional<SegmentByteRange> &range, const QString &userAgent,
                   const StreamRecorderTiming &timing, Done done, QObject *parent)
    : QObject(parent),
      m_kind(kind),
      m_range(range),
      m_maximumSize(timing.maximumBodySize),
      m_done(std::move(done)),
      m_session(session)
{
    if (!isFetchableAddress(url)) {
        // Answered later like every request, so that the caller never sees
        // its answer before this constructor has returned.
        QMetaObject::invokeMethod(
            this, [this] { fail(RecorderMessages::unsupportedAddress()); }, Qt::QueuedConnection);
        return;
    }
    m_transfer = session.get({url, headerSafeUserAgent(userAgent), timing.requestTimeout, m_range, false},
                             {[this](const CaptureTransfer::Head &head) { headReceived(head); },
                              [this](const char *data, qsizetype size) { bodyReceived(data, size); },
                              [this](const QString &error) { completed(error); }});
}

HLSFetch::~HLSFetch()
{
    dropTransfer();
}

void HLSFetch::headReceived(const CaptureTransfer::Head &head)
{
    const int status = head.status;
    if (status < 200 || status > 299) {
        fail(RecorderError{RecorderMessages::refusal(status), status});
        return;
    }
    if (m_range) {
        // A server that does not serve ranges answers with the whole resource.
        m_wholeResource = status != kPartialContentStatus;
        const auto start = contentRangeStart(head.contentRange);
        if (!m_wholeResource && start && *start != m_range->offset)
            fail(RecorderError{RecorderMessages::incompleteRange(), std::nullopt});
        else
            m_body.reserve(qsizetype(std::min(m_range->length, m_maximumSize)));
        return;
    }
    if (head.contentLength > m_maximumSize)
        fail(RecorderError{m_kind == Kind::Segment ? RecorderMessages::oversizedSegment(m_maximumSize)
                                                   : RecorderMessages::oversizedPlaylist(m_maximumSize),
                           std::nullopt});
    else if (head.contentLength > 0)
        // The body is collected in one buffer of its announced size rather
        // than one grown step by step.
        m_body.reserve(qsizetype(head.contentLength));
}

void HLSFetch::bodyReceived(const char *data, qsizetype size)
{
    keep(data, size);
    // Once the listed range is in, the rest of the answer is not needed.
    if (m_transfer && rangeComplete())
        deliver({m_body, std::nullopt, {}});
}

void HLSFetch::keep(const char *data, qsizetype size)
{
    if (!m_range) {
        m_body.append(data, size);
    } else {
        // In an answer with the whole resource, the range starts at its
        // offset; a partial answer starts with it.
        const qint64 skip = m_wholeResource ? std::clamp<qint64>(m_range->offset - m_position, 0, size) : 0;
        const qint64 take = std::min<qint64>(m_range->length - m_body.size(), size - skip);
        if (take > 0)
            m_body.append(data + skip, qsizetype(take));
        m_position += size;
    }
    if (m_body.size() > m_maximumSize)
        fail(RecorderError{m_kind == Kind::Segment ? RecorderMessages::oversizedSegment(m_maximumSize)
                                                   : RecorderMessages::oversizedPlaylist(m_maximumSize),
                           std::nullopt});
}

void HLSFetch::completed(const QString &error)
{
    m_transfer = nullptr; // it has ended
    if (!error.isEmpty()) {
        fail(error);
        return;
    }
    if (m_range && !rangeComplete()) {
        fail(RecorderError{RecorderMessages::incompleteRange(), std::nullopt});
        return;
    }
    deliver({m_body, std::nullopt, {}});
}

void HLSFetch::fail(const RecorderError &refusal)
{
    deliver({{}, refusal, {}});
}

void HLSFetch::fail(const QString &error)
{
    deliver({{}, std::nullopt, error});
}

void HLSFetch::deliver(const Result &result)
{
    dropTransfer();
    m_body.clear();
    // The callback may well delete this fetch (later); it is taken out first
    // so that it runs once whatever it does.
    const Done done = std::exchange(m_done, nullptr);
    if (done)
        done(result);
}

void HLSFetch::dropTransfer()
{
    if (m_transfer)
        m_session.cancel(std::exchange(m_transfer, nullptr));
}
