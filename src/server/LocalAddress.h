#pragma once

#include <QList>
#include <QString>
#include <optional>

// One entry of the system's interface list, as far as choosing the address
// to show the user is concerned.
struct InterfaceAddress
{
    QString interfaceName;
    bool isIPv4 = false;
    bool isUp = false;
    bool isLoopback = false;
    std::optional<QString> numericHost; // none when it could not be converted
};

namespace LocalAddress {

// The address the user should type into the TV app: among the IPv4
// addresses of interfaces that are up and not loopback, the first of a
// wired or wireless interface ("en*", which covers macOS and the predictable
// Linux names, "eth*", "wl*"), else the first that is not a bridge,
// container, virtual machine or VPN interface, else the first at all.
std::optional<QString> choose(const QList<InterfaceAddress> &interfaces);

// The system's interfaces in its order; none when they cannot be listed.
std::optional<QList<InterfaceAddress>> enumerate();

} // namespace LocalAddress
