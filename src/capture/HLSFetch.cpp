#include "HLSFetch.h"

#include "CaptureRequest.h"
#include "RecorderMessages.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>
#include <utility>

namespace {

constexpr int kPartialContentStatus = 206;

QByteArray rangeHeader(const SegmentByteRange &range)
{
    return "bytes=" + QByteArray::number(range.offset) + '-' + QByteArray::number(range.end() - 1);
}

// The first byte a "Content-Range: bytes first-last/size" header names, or
// none when there is no such header or it does not read.
std::optional<qint64> contentRangeStart(const QNetworkReply &reply)
{
    const QByteArray value = reply.rawHeader(QByteArrayLiteral("Content-Range")).trimmed();
    if (!value.startsWith("bytes "))
        return std::nullopt;
    const qsizetype dash = value.indexOf('-');
    bool ok = false;
    const qint64 first = value.mid(6, dash - 6).trimmed().toLongLong(&ok);
    return ok && dash > 6 ? std::optional(first) : std::nullopt;
}

} // namespace

HLSFetch::HLSFetch(QNetworkAccessManager &client, Kind kind, const QUrl &url,
                   const std::optional<SegmentByteRange> &range, const QString &userAgent,
                   const StreamRecorderTiming &timing, Done done, QObject *parent)
    : QObject(parent),
      m_kind(kind),
      m_range(range),
      m_maximumSize(timing.maximumBodySize),
      m_done(std::move(done))
{
    if (!isFetchableAddress(url)) {
        // Answered later like every request, so that the caller never sees
        // its answer before this constructor has returned.
        QMetaObject::invokeMethod(
            this, [this] { fail(RecorderMessages::unsupportedAddress()); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request = captureRequest(url, userAgent, timing.requestTimeout);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    if (m_range)
        request.setRawHeader(QByteArrayLiteral("Range"), rangeHeader(*m_range));
    m_reply = client.get(request);
    connect(m_reply, &QNetworkReply::redirected, this, &HLSFetch::redirected);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &HLSFetch::headReceived);
    connect(m_reply, &QNetworkReply::readyRead, this, &HLSFetch::bodyReceived);
    connect(m_reply, &QNetworkReply::finished, this, &HLSFetch::completed);
}

HLSFetch::~HLSFetch()
{
    dropReply();
}

void HLSFetch::redirected(const QUrl &target)
{
    // Followed wherever the provider sends it, as long as it stays on http or
    // https.
    if (isFetchableAddress(target))
        emit m_reply->redirectAllowed();
    else
        fail(RecorderMessages::unsupportedAddress());
}

void HLSFetch::headReceived()
{
    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid())
        return;
    const int status = statusAttribute.toInt();
    if (isFollowedRedirect(status, *m_reply))
        return; // the client goes on to the new address, or fails the request itself
    if (status < 200 || status > 299) {
        fail(RecorderError{RecorderMessages::refusal(status), status});
        return;
    }
    if (m_range) {
        // A server that does not serve ranges answers with the whole resource.
        m_wholeResource = status != kPartialContentStatus;
        const auto start = contentRangeStart(*m_reply);
        if (!m_wholeResource && start && *start != m_range->offset)
            fail(RecorderError{RecorderMessages::incompleteRange(), std::nullopt});
        else
            m_body.reserve(qsizetype(std::min(m_range->length, m_maximumSize)));
        return;
    }
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > m_maximumSize)
        fail(RecorderError{m_kind == Kind::Segment ? RecorderMessages::oversizedSegment(m_maximumSize)
                                                   : RecorderMessages::oversizedPlaylist(m_maximumSize),
                           std::nullopt});
    else if (length.isValid() && length.toLongLong() > 0)
        // The body is collected in one buffer of its announced size rather
        // than one grown step by step.
        m_body.reserve(qsizetype(length.toLongLong()));
}

void HLSFetch::bodyReceived()
{
    keep(m_reply->readAll());
    // Once the listed range is in, the rest of the answer is not needed.
    if (m_reply && rangeComplete())
        deliver({m_body, std::nullopt, {}});
}

void HLSFetch::keep(const QByteArray &data)
{
    if (!m_range) {
        m_body += data;
    } else {
        // In an answer with the whole resource, the range starts at its
        // offset; a partial answer starts with it.
        const qint64 skip = m_wholeResource ? std::clamp<qint64>(m_range->offset - m_position, 0, data.size()) : 0;
        const qint64 take = std::min<qint64>(m_range->length - m_body.size(), data.size() - skip);
        if (take > 0)
            m_body += data.mid(skip, take);
        m_position += data.size();
    }
    if (m_body.size() > m_maximumSize)
        fail(RecorderError{m_kind == Kind::Segment ? RecorderMessages::oversizedSegment(m_maximumSize)
                                                   : RecorderMessages::oversizedPlaylist(m_maximumSize),
                           std::nullopt});
}

void HLSFetch::completed()
{
    // A request that failed before any answer has nothing left to read.
    if (m_reply->isReadable())
        keep(m_reply->readAll());
    if (!m_reply)
        return;
    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.toInt();
    if (statusAttribute.isValid() && (status < 200 || status > 299)) {
        fail(RecorderError{RecorderMessages::refusal(status), status});
        return;
    }
    const QString error = requestErrorDescription(*m_reply);
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
    dropReply();
    m_body.clear();
    // The callback may well delete this fetch (later); it is taken out first
    // so that it runs once whatever it does.
    const Done done = std::exchange(m_done, nullptr);
    if (done)
        done(result);
}

void HLSFetch::dropReply()
{
    if (!m_reply)
        return;
    // Deleting a reply cancels its transfer. It is cut loose first and
    // deleted later, since this may run inside one of its own signals.
    QNetworkReply *reply = m_reply.data();
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
}
