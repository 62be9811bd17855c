#include "LocalAddress.h"

#include <QNetworkInterface>
#include <QStringList>

namespace {

bool startsWithAny(const QString &name, const QStringList &prefixes)
{
    for (const QString &prefix : prefixes) {
        if (name.startsWith(prefix))
            return true;
    }
    return false;
}

// 0: the machine's own wired or wireless network; 1: unknown; 2: an
// interface that leads to bridges, containers, virtual machines or tunnels,
// whose address the TV cannot reach.
int rank(const QString &name)
{
    static const QStringList physical{QStringLiteral("en"), QStringLiteral("eth"), QStringLiteral("wl")};
    static const QStringList virtualOnes{
        QStringLiteral("br"),      QStringLiteral("bridge"),  QStringLiteral("virbr"),   QStringLiteral("docker"),
        QStringLiteral("veth"),    QStringLiteral("vnet"),    QStringLiteral("vmnet"),   QStringLiteral("vboxnet"),
        QStringLiteral("lxc"),     QStringLiteral("lxd"),     QStringLiteral("podman"),  QStringLiteral("cni"),
        QStringLiteral("flannel"), QStringLiteral("tun"),     QStringLiteral("tap"),     QStringLiteral("utun"),
        QStringLiteral("wg"),      QStringLiteral("tailscale"), QStringLiteral("zt"),    QStringLiteral("ppp"),
        QStringLiteral("ipsec"),   QStringLiteral("awdl"),    QStringLiteral("llw")};
    if (startsWithAny(name, physical))
        return 0;
    if (startsWithAny(name, virtualOnes))
        return 2;
    return 1;
}

} // namespace

namespace LocalAddress {

std::optional<QString> choose(const QList<InterfaceAddress> &interfaces)
{
    std::optional<QString> best;
    int bestRank = 3;
    for (const InterfaceAddress &entry : interfaces) {
        if (!entry.isIPv4 || !entry.isUp || entry.isLoopback || entry.numericHost.isEmpty())
            continue;
        const int entryRank = rank(entry.interfaceName);
        // The first of the best rank wins: the system's order decides ties.
        if (entryRank < bestRank) {
            best = entry.numericHost;
            bestRank = entryRank;
        }
    }
    return best;
}

QList<InterfaceAddress> enumerate()
{
    QList<InterfaceAddress> addresses;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = interface.flags();
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            addresses.append({interface.name(), ip.protocol() == QAbstractSocket::IPv4Protocol,
                              flags.testFlag(QNetworkInterface::IsUp), flags.testFlag(QNetworkInterface::IsLoopBack),
                              ip.toString()});
        }
    }
    return addresses;
}

} // namespace LocalAddress

LocalAddressCache::LocalAddressCache(std::chrono::milliseconds lifetime, Lookup lookup, Clock clock)
    : m_lifetime(lifetime)
    , m_lookup(std::move(lookup))
    , m_clock(std::move(clock))
{
}

std::optional<QString> LocalAddressCache::address()
{
    const QMutexLocker locker(&m_mutex);
    const auto now = m_clock();
    if (!m_lookedUpAt || now - *m_lookedUpAt >= m_lifetime) {
        m_address = m_lookup();
        m_lookedUpAt = now;
    }
    return m_address;
}

std::optional<QString> LocalAddressCache::lookUpAddress()
{
    return LocalAddress::choose(LocalAddress::enumerate());
}
