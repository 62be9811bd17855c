#include "LocalAddress.h"
#include "LogCapture.h"
#include "RecorderInfo.h"
#include "ServerFixture.h"

#include <QSignalSpy>
#include <QTcpServer>

using namespace std::chrono_literals;

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
    EXPECT_EQ(blocked.startError(),
              QStringLiteral("Port %1 is not available: ").arg(configuration.port) + description);
    EXPECT_EQ(blocked.serverPort(), 0);
    // The failed listener stays failed: no retry, no second log line.
    occupant.close();
    blocked.start();
    EXPECT_EQ(log.all().size(), 1);
    EXPECT_EQ(blocked.serverPort(), 0);
    EXPECT_EQ(changed.count(), 1);
}

TEST(LocalAddress, PrefersTheMachinesOwnNetwork)
{
    const auto up = [](const char *name, const char *address) {
        return InterfaceAddress{QString::fromLatin1(name), true, true, false, QString::fromLatin1(address)};
    };
    // A bridge listed first, an "en" interface second.
    EXPECT_EQ(LocalAddress::choose({up("bridge100", "192.168.2.1"), up("en0", "192.168.1.20")}),
              QStringLiteral("192.168.1.20"));
    // Unknown names come before virtual ones; among equals the system's order holds.
    EXPECT_EQ(LocalAddress::choose({up("br-4f2a", "172.18.0.1"), up("bond0", "10.0.0.5"), up("team0", "10.0.0.6")}),
              QStringLiteral("10.0.0.5"));
    InterfaceAddress loopback = up("lo", "127.0.0.1"), down = up("eth1", "192.168.5.5"), ipv6 = up("eth0", "fe80::1");
    loopback.isLoopback = true;
    down.isUp = false;
    ipv6.isIPv4 = false;
    EXPECT_EQ(LocalAddress::choose({loopback}), std::nullopt);
    EXPECT_EQ(LocalAddress::choose({loopback, down, ipv6, up("docker0", "172.17.0.1")}), QStringLiteral("172.17.0.1"));

    // The system's list has the loopback interface as such.
    const QList<InterfaceAddress> system = LocalAddress::enumerate();
    EXPECT_TRUE(std::any_of(system.begin(), system.end(), [](const InterfaceAddress &a) {
        return a.numericHost == QStringLiteral("127.0.0.1") && a.isIPv4 && a.isUp && a.isLoopback;
    }));
}

TEST(LocalAddress, IsLookedUpAgainOnlyOnceItsLifetimeHasPassed)
{
    // The window, the tray and the page ask on every progress update.
    auto now = std::chrono::steady_clock::time_point();
    int lookups = 0;
    LocalAddressCache cache(5s, [&] { return QStringLiteral("10.0.0.%1").arg(++lookups); }, [&] { return now; });
    EXPECT_EQ(cache.address(), QStringLiteral("10.0.0.1"));
    now += 4999ms;
    EXPECT_EQ(cache.address(), QStringLiteral("10.0.0.1"));
    // The network changed meanwhile: the next look-up tells.
    now += 1ms;
    EXPECT_EQ(cache.address(), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(cache.address(), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(lookups, 2);
}

TEST(RecorderInfo, ComputerNameComesFromThePrettyHostName)
{
    EXPECT_EQ(RecorderInfo::prettyHostName("ICON_NAME=computer\nPRETTY_HOSTNAME=\"Ann's \\\"Den\\\" PC\"\n"),
              QStringLiteral("Ann's \"Den\" PC"));
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("machine-info"));
    testsupport::writeFile(path, "PRETTY_HOSTNAME=\"Study Mac\"\n");
    EXPECT_EQ(RecorderInfo::hostComputerName(path), QStringLiteral("Study Mac"));
    testsupport::writeFile(path, "PRETTY_HOSTNAME=\n");
    EXPECT_FALSE(RecorderInfo::hostComputerName(path).isEmpty());
}
