#include "ProviderLimitCheck.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

// The user agent comes from the client that scheduled the recording; control
// characters (a line break above all) would let it add header lines.
QByteArray headerSafe(const QString &userAgent)
{
    QByteArray value = userAgent.toUtf8();
    std::replace_if(value.begin(), value.end(), [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7f; }, ' ');
    return value;
}

// Whether the reply carries a complete answer of the server, whatever its
// status; transport failures, timeouts and cut-off bodies do not.
bool isCompleteServerAnswer(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::NoError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentReSendError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

} // namespace

ProviderLimitCheck::ProviderLimitCheck(const QUrl &url, const QString &userAgent, qint64 recentStarts,
                                       const ProviderConnections::Timing &timing, Done done, QObject *context)
    : QObject(context),
      m_url(url),
      m_userAgent(userAgent),
      m_recentStarts(recentStarts),
      m_timing(timing),
      m_done(std::move(done)),
      m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] { finishWith(ProviderConnections::LimitAnswer::goAhead()); });
}

ProviderLimitCheck::~ProviderLimitCheck()
{
    dropReply();
}

void ProviderLimitCheck::dropReply()
{
    // The request ends without an answer; the reply may be inside one of its
    // own signals, so it goes later.
    if (QNetworkReply *reply = std::exchange(m_reply, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void ProviderLimitCheck::start()
{
    if (!m_url.isValid()) {
        QTimer::singleShot(0, this, [this] { finishWith(ProviderConnections::LimitAnswer::goAhead()); });
        return;
    }
    QNetworkRequest request(m_url);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), headerSafe(m_userAgent));
    m_deadline->start(m_timing.queryDeadline);
    m_reply = m_network.get(request);
    // The client stops reading from the socket once it holds this much, so a
    // provider that sends without end costs no more memory than the answer
    // is allowed to be.
    m_reply->setReadBufferSize(m_timing.maximumAnswerSize + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &ProviderLimitCheck::bodyReceived);
    connect(m_reply, &QNetworkReply::finished, this, &ProviderLimitCheck::handleReply);
}

void ProviderLimitCheck::bodyReceived()
{
    // Nothing is read here: the body is taken whole once it is complete.
    if (m_reply->bytesAvailable() > m_timing.maximumAnswerSize)
        finishWith(ProviderConnections::LimitAnswer::goAhead());
}

void ProviderLimitCheck::handleReply()
{
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->deleteLater();
    if (!isCompleteServerAnswer(*reply) || reply->bytesAvailable() > m_timing.maximumAnswerSize) {
        finishWith(ProviderConnections::LimitAnswer::goAhead());
        return;
    }
    finishWith(ProviderConnections::limitAnswer(reply->readAll(), m_recentStarts));
}

void ProviderLimitCheck::finishWith(const ProviderConnections::LimitAnswer &answer)
{
    // Detached first: done may destroy the context, which must not take this
    // object with it while it is still running.
    Done done = std::exchange(m_done, nullptr);
    if (!done)
        return; // answered already
    m_deadline->stop();
    dropReply();
    setParent(nullptr);
    deleteLater();
    done(answer);
}
