#include "OriginRule.h"

#include "HTTPRequest.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QUrl>
#include <optional>

namespace {

struct Authority
{
    QString host; // lower case, without brackets or a final dot
    int port = 80;
};

// "scheme://host[:port]" of an Origin header, or "host[:port]" of a Host
// header; nothing for anything else (a path, user information, "null").
std::optional<Authority> parseAuthority(const QString &text, bool withScheme)
{
    const QUrl url(withScheme ? text : QStringLiteral("http://") + text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty()
        || !url.userInfo().isEmpty() || !url.path().isEmpty() || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    QString host = url.host().toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return Authority{host, url.port(80)};
}

bool isOwnHost(const QString &host, const QStringList &localNames)
{
    return !QHostAddress(host).isNull() || host == QLatin1String("localhost") || localNames.contains(host);
}

} // namespace

namespace OriginRule {

bool accepts(const HTTPRequest &request)
{
    // Only requests from pages need the computer's names.
    return !request.header(QStringLiteral("origin")) || accepts(request, localNames());
}

bool accepts(const HTTPRequest &request, const QStringList &localNames)
{
    const auto origin = request.header(QStringLiteral("origin"));
    if (!origin)
        return true;
    const auto host = request.header(QStringLiteral("host"));
    if (!host)
        return false;
    const auto page = parseAuthority(*origin, true);
    const auto target = parseAuthority(*host, false);
    return page && target && page->host == target->host && page->port == target->port
           && isOwnHost(target->host, localNames);
}

QStringList localNames()
{
    const QString hostName = QHostInfo::localHostName().toLower();
    if (hostName.isEmpty())
        return {};
    const QString shortName = hostName.section(QLatin1Char('.'), 0, 0);
    QStringList names{hostName, shortName, shortName + QStringLiteral(".local")};
    const QString domain = QHostInfo::localDomainName().toLower();
    if (!domain.isEmpty())
        names.append(shortName + QLatin1Char('.') + domain);
    names.removeDuplicates();
    return names;
}

} // namespace OriginRule
