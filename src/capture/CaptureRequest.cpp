#include "CaptureRequest.h"

#include <algorithm>

bool isFetchableAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QByteArray headerSafeUserAgent(const QString &userAgent)
{
    QByteArray value = userAgent.toUtf8();
    std::replace_if(value.begin(), value.end(), [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7f; }, ' ');
    return value;
}
