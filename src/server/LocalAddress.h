#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

// One address of one of the system's interfaces, as far as choosing the
// address to show the user is concerned.
struct InterfaceAddress
{
    QString interfaceName;
    bool isIPv4 = false;
    bool isUp = false;
    bool isLoopback = false;
    QString numericHost;
};

namespace LocalAddress {

// The address the user should type into the TV app: among the IPv4
// addresses of interfaces that are up and not loopback, the first of a
// wired or wireless interface ("en*", which covers macOS and the predictable
// Linux names, "eth*", "wl*"), else the first that is not a bridge,
// container, virtual machine or VPN interface, else the first at all.
std::optional<QString> choose(const QList<InterfaceAddress> &interfaces);

// The addresses of the system's interfaces in its order; empty when they
// cannot be listed.
QList<InterfaceAddress> enumerate();

} // namespace LocalAddress

// How long a chosen address is shown before the interfaces are listed again:
// the window, the tray and the page ask on every progress update, while the
// address changes only when the network does.
inline constexpr std::chrono::milliseconds kLocalAddressLifetime{5000};

// The chosen address, looked up again once it is older than its lifetime.
// May be asked from any thread.
class LocalAddressCache
{
public:
    using Lookup = std::function<std::optional<QString>()>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit LocalAddressCache(std::chrono::milliseconds lifetime = kLocalAddressLifetime,
                               Lookup lookup = lookUpAddress, Clock clock = std::chrono::steady_clock::now);

    std::optional<QString> address();

    static std::optional<QString> lookUpAddress();

private:
    const std::chrono::milliseconds m_lifetime;
    const Lookup m_lookup;
    const Clock m_clock;
    QMutex m_mutex;
    std::optional<std::chrono::steady_clock::time_point> m_lookedUpAt;
    std::optional<QString> m_address;
};
