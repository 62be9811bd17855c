#include "ProviderConnections.h"

#include "ProviderLimitCheck.h"
#include "TextReaders.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>
#include <QThread>
#include <QtNumeric>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

std::optional<qint64> truncatedNumber(const QJsonValue &value)
{
    // Integers that fit are kept exactly by the JSON reader; only other
    // numbers go through the double and its range check.
    const QVariant exact = value.toVariant();
    if (exact.typeId() == QMetaType::LongLong)
        return exact.toLongLong();
    const double truncated = std::trunc(value.toDouble());
    if (!(truncated >= -0x1p63 && truncated < 0x1p63))
        return std::nullopt;
    return qint64(truncated);
}

// The first non-empty part of the file name before a dot: 1234 of 1234.ts
// and of .1234.ts, ts of .ts.
QString streamIdentifier(const QString &fileName)
{
    return fileName.split(QLatin1Char('.'), Qt::SkipEmptyParts).value(0);
}

// Every character has the Unicode numeric property (decimal digits of any
// script, and other number characters).
bool isNumeric(const QString &identifier)
{
    const QList<uint> codePoints = identifier.toUcs4();
    return !codePoints.isEmpty()
           && std::all_of(codePoints.begin(), codePoints.end(), [](uint c) { return QChar::isNumber(char32_t(c)); });
}

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (!qAddOverflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

} // namespace

ProviderConnections::ProviderConnections() = default;

ProviderConnections::ProviderConnections(Timing timing) : m_timing(timing) {}

std::optional<ProviderConnections::Account> ProviderConnections::account(const QUrl &streamURL)
{
    if (!streamURL.isValid() || streamURL.hasQuery() || streamURL.scheme().isEmpty() || streamURL.host().isEmpty())
        return std::nullopt;
    QStringList pieces = streamURL.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!pieces.isEmpty() && pieces.first() == QLatin1String("live"))
        pieces.removeFirst();
    if (pieces.size() != 3 || !isNumeric(streamIdentifier(pieces.at(2))))
        return std::nullopt;

    QUrl base;
    base.setScheme(streamURL.scheme());
    base.setHost(streamURL.host());
    if (streamURL.port() != -1)
        base.setPort(streamURL.port());
    if (!base.isValid())
        return std::nullopt;
    // The path was decoded once already; decoding once more turns names
    // that the address carries encoded twice into plain text.
    // A malformed escape or bytes that are not UTF-8 leave the piece as it is.
    return Account{base, percentDecoded(pieces.at(0)).value_or(pieces.at(0)),
                   percentDecoded(pieces.at(1)).value_or(pieces.at(1))};
}

QString ProviderConnections::accountKey(const Account &account)
{
    return account.base.toString(QUrl::FullyEncoded) + QLatin1Char('|') + account.username;
}

std::optional<qint64> ProviderConnections::parseCount(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? 1 : 0;
    case QJsonValue::Double:
        return truncatedNumber(value);
    case QJsonValue::String: {
        const QString text = value.toString();
        return readSignedInteger(trimBlanksAndTabs(text));
    }
    default:
        return std::nullopt;
    }
}

QUrl ProviderConnections::accountQueryURL(const Account &account)
{
    if (account.base.scheme().isEmpty() || account.base.host().isEmpty())
        return QUrl();
    QUrl url = account.base;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("player_api.php"));
    // Everything but the unreserved characters is escaped, so '&', '=', '#',
    // '+', '%' and blanks in the values stay part of them.
    const auto encoded = [](const QString &value) { return QString::fromLatin1(QUrl::toPercentEncoding(value)); };
    url.setQuery(QStringLiteral("username=") + encoded(account.username) + QStringLiteral("&password=")
                     + encoded(account.password),
                 QUrl::StrictMode);
    return url;
}

ProviderConnections::LimitAnswer ProviderConnections::limitAnswer(const QByteArray &body, qint64 recentStarts)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return LimitAnswer::goAhead();
    const QJsonValue userInfo = document.object().value(QLatin1String("user_info"));
    if (!userInfo.isObject())
        return LimitAnswer::goAhead();
    const auto active = parseCount(userInfo.toObject().value(QLatin1String("active_cons")));
    if (!active)
        return LimitAnswer::goAhead();

    const qint64 inUse = saturatingAdd(*active, recentStarts);
    const qint64 limit = std::max<qint64>(parseCount(userInfo.toObject().value(QLatin1String("max_connections"))).value_or(1), 1);
    return inUse < limit ? LimitAnswer::goAhead() : LimitAnswer::fullWith(inUse, limit);
}

void ProviderConnections::checkLimit(const Account &account, const QString &userAgent, qint64 recentStarts,
                                     QObject *context, std::function<void(const LimitAnswer &)> done) const
{
    Q_ASSERT(context);
    if (!context || !done)
        return;
    const QUrl url = accountQueryURL(account);
    const Timing timing = m_timing;
    // The check is created as a child of context in context's thread, so its
    // answer arrives there and dies with context.
    auto begin = [url, userAgent, recentStarts, timing, context, done = std::move(done)] {
        auto *check = new ProviderLimitCheck(url, userAgent, recentStarts, timing, done, context);
        check->start();
    };
    if (QThread::currentThread() == context->thread())
        begin();
    else
        QMetaObject::invokeMethod(context, std::move(begin), Qt::QueuedConnection);
}
