#include "CaptureRequest.h"

#include "RecorderMessages.h"

#include <QNetworkReply>
#include <algorithm>
#include <climits>
#include <iterator>

bool isFetchableAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QNetworkRequest captureRequest(const QUrl &url, const QString &userAgent, std::chrono::milliseconds timeout)
{
    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), headerSafeUserAgent(userAgent));
    // A transfer timeout of 0 would mean none at all.
    request.setTransferTimeout(int(std::clamp<qint64>(timeout.count(), 1, INT_MAX)));
    return request;
}

QByteArray headerSafeUserAgent(const QString &userAgent)
{
    QByteArray value = userAgent.toUtf8();
    std::replace_if(value.begin(), value.end(), [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7f; }, ' ');
    return value;
}

bool isFollowedRedirect(int status, const QNetworkReply &reply)
{
    static constexpr int kRedirectStatuses[] = {301, 302, 303, 305, 307, 308};
    return std::find(std::begin(kRedirectStatuses), std::end(kRedirectStatuses), status)
               != std::end(kRedirectStatuses)
        && reply.hasRawHeader(QByteArrayLiteral("Location"));
}

QString requestErrorDescription(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::NoError: return {};
    case QNetworkReply::OperationCanceledError: return RecorderMessages::timedOut();
    default: return reply.errorString();
    }
}
