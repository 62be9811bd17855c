#include "LocalAddress.h"
#include "LogCapture.h"
#include "RecorderInfo.h"
#include "ServerFixture.h"

#include <QSignalSpy>
#include <QTcpServer>

TEST(RecordingServerTest, PortTakenIsReportedAndLoggedOnce)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
    RecordingServer::Configuration configuration;
    configuration.address = QHostAddress(QHostAddress::LocalHost);
    configuration.port = occupant.serverPort();
    RecordingServer blocked(configuration);
    QSignalSpy changed(&blocked, &RecordingServer::startErrorChanged);
    LogCapture log;
    blocked.start();
    const QString prefix = QStringLiteral("[TivoluxRecorder] server failed: ");
    ASSERT_EQ(log.all().size(), 1);
    ASSERT_TRUE(log.all().first().startsWith(prefix));
    const QString description = log.all().first().mid(prefix.size());
    EXPECT_FALSE(description.isEmpty());
    EXPECT_EQ(blocked.startError(), QStringLiteral("Port %1 is not available: ").arg(configuration.port) + description);
    // The failed listener stays failed: no retry, no second log line.
    occupant.close();
    blocked.start();
    EXPECT_EQ(log.all().size(), 1);
    EXPECT_EQ(blocked.serverPort(), 0);
    EXPECT_EQ(changed.count(), 1);
}

TEST(LocalAddress, PrefersTheMachinesOwnNetworkAndIsLookedUpAgainOnlyOnceItsLifetimeHasPassed)
{
    const auto up = [](const char *name, const char *address) {
        return InterfaceAddress{QString::fromLatin1(name), true, true, false, QString::fromLatin1(address)};
    };
    // An "en" interface before a bridge listed first; unknown names before
    // virtual ones; among equals the system's order.
    EXPECT_EQ(LocalAddress::choose({up("bridge100", "192.168.2.1"), up("en0", "192.168.1.20")}), "192.168.1.20");
    EXPECT_EQ(LocalAddress::choose({up("br-4f2a", "172.18.0.1"), up("bond0", "10.0.0.5"), up("team0", "10.0.0.6")}),
              "10.0.0.5");
    InterfaceAddress loopback = up("lo", "127.0.0.1"), down = up("eth1", "192.168.5.5"), ipv6 = up("eth0", "fe80::1");
    loopback.isLoopback = true;
    down.isUp = false;
    ipv6.isIPv4 = false;
    EXPECT_EQ(LocalAddress::choose({loopback}), std::nullopt);
    EXPECT_EQ(LocalAddress::choose({loopback, down, ipv6, up("docker0", "172.17.0.1")}), "172.17.0.1");
    const QList<InterfaceAddress> system = LocalAddress::enumerate();
    EXPECT_TRUE(std::any_of(system.begin(), system.end(), [](const InterfaceAddress &a) {
        return a.numericHost == QStringLiteral("127.0.0.1") && a.isIPv4 && a.isUp && a.isLoopback;
    }));

    // The window, the tray and the page ask on every progress update.
    auto now = std::chrono::steady_clock::time_point();
    int lookups = 0;
    LocalAddressCache cache(std::chrono::seconds(5), [&] { return QStringLiteral("10.0.0.%1").arg(++lookups); },
                            [&] { return now; });
    EXPECT_EQ(cache.address(), "10.0.0.1");
    now += std::chrono::milliseconds(4999);
    EXPECT_EQ(cache.address(), "10.0.0.1");
    now += std::chrono::milliseconds(1);
    EXPECT_EQ(cache.address(), "10.0.0.2");
    EXPECT_EQ(cache.address(), "10.0.0.2");
    EXPECT_EQ(lookups, 2);
}

TEST(RecorderInfo, ComputerNameComesFromThePrettyHostName)
{
    EXPECT_EQ(RecorderInfo::prettyHostName("ICON_NAME=computer\nPRETTY_HOSTNAME=\"Ann's \\\"Den\\\" PC\"\n"),
              QStringLiteral("Ann's \"Den\" PC"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("machine-info"));
    testsupport::writeFile(path, "PRETTY_HOSTNAME=\"Study Mac\"\n");
    EXPECT_EQ(RecorderInfo::hostComputerName(path), QStringLiteral("Study Mac"));
    testsupport::writeFile(path, "PRETTY_HOSTNAME=\n");
    EXPECT_FALSE(RecorderInfo::hostComputerName(path).isEmpty());
}
