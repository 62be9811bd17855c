#include "ProviderLimitCheck.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <algorithm>
#include <climits>
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
                                       std::chrono::milliseconds timeout, Done done, QObject *context)
    : QObject(context),
      m_url(url),
      m_userAgent(userAgent),
      m_recentStarts(recentStarts),
      m_timeout(timeout),
      m_done(std::move(done))
{
}

ProviderLimitCheck::~ProviderLimitCheck()
{
    // Destroyed with its context: the request ends without an answer.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
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
    // A transfer timeout of 0 would mean none at all.
    request.setTransferTimeout(std::max(1, int(std::min<qint64>(m_timeout.count(), INT_MAX))));
    m_reply = m_network.get(request);
    connect(m_reply, &QNetworkReply::finished, this, &ProviderLimitCheck::handleReply);
}

void ProviderLimitCheck::handleReply()
{
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->deleteLater();
    if (!isCompleteServerAnswer(*reply)) {
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
    setParent(nullptr);
    deleteLater();
    if (done)
        done(answer);
}
