#include "LocalAddress.h"

#include <QStringList>

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

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
        if (!entry.isIPv4 || !entry.isUp || entry.isLoopback || !entry.numericHost)
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

std::optional<QList<InterfaceAddress>> enumerate()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    QList<InterfaceAddress> interfaces;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        InterfaceAddress address;
        address.interfaceName = QString::fromLocal8Bit(entry->ifa_name);
        address.isIPv4 = entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET;
        address.isUp = entry->ifa_flags & IFF_UP;
        address.isLoopback = entry->ifa_flags & IFF_LOOPBACK;
        if (address.isIPv4) {
            char host[1025];
            if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0)
                address.numericHost = QString::fromLatin1(host);
        }
        interfaces.append(address);
    }
    freeifaddrs(list);
    if (interfaces.isEmpty())
        return std::nullopt;
    return interfaces;
}

} // namespace LocalAddress
