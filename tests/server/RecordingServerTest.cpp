#include "LocalAddress.h"
#include "LogCapture.h"
#include "RecorderInfo.h"
#include "ServerFixture.h"

#include <QSignalSpy>
#include <QTcpServer>

namespace {

InterfaceAddress up(const char *name, const char *address)
{
    return {QString::fromLatin1(name), true, true, false, QString::fromLatin1(address)};
}

} // namespace

using RecordingServerTest = ServerFixture;

TEST_F(RecordingServerTest, PortTakenIsReportedAndLogged)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
    const quint16 taken = occupant.serverPort();
    RecordingServer::Configuration configuration;
    configuration.address = QHostAddress(QHostAddress::LocalHost);
    configuration.port = taken;
    RecordingServer blocked(configuration);
    QSignalSpy changed(&blocked, &RecordingServer::startErrorChanged);
    QStringList lines;
    {
        LogCapture log;
        blocked.start();
        lines = log.all();
    }
    ASSERT_EQ(lines.size(), 1);
    const QString prefix = QStringLiteral("[TivoluxRecorder] server failed: ");
    EXPECT_TRUE(lines.first().startsWith(prefix));
    const QString description = lines.first().mid(prefix.size());
    EXPECT_FALSE(description.isEmpty());
    ASSERT_TRUE(blocked.startError());
    EXPECT_EQ(*blocked.startError(), QStringLiteral("Port %1 is not available: ").arg(taken) + description);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(blocked.serverPort(), 0);

    // The failed listener stays failed: no retry, no second log line.
    occupant.close();
    LogCapture log;
    blocked.start();
    EXPECT_TRUE(log.all().isEmpty());
    EXPECT_EQ(blocked.serverPort(), 0);
    EXPECT_EQ(changed.count(), 1);
}

TEST(LocalAddress, PrefersTheMachinesOwnNetwork)
{
    // A bridge listed first, an "en" interface second.
    EXPECT_EQ(LocalAddress::choose({up("bridge100", "192.168.2.1"), up("en0", "192.168.1.20")}),
              QStringLiteral("192.168.1.20"));
    // Unknown names come before virtual ones; among equals the system's order holds.
    EXPECT_EQ(LocalAddress::choose({up("br-4f2a", "172.18.0.1"), up("bond0", "10.0.0.5"), up("team0", "10.0.0.6")}),
              QStringLiteral("10.0.0.5"));

    InterfaceAddress loopback = up("lo", "127.0.0.1");
    loopback.isLoopback = true;
    InterfaceAddress down = up("eth1", "192.168.5.5");
    down.isUp = false;
    InterfaceAddress ipv6 = up("eth0", "fe80::1");
    ipv6.isIPv4 = false;
    InterfaceAddress unconvertible = up("eth2", "");
    unconvertible.numericHost.reset();
    EXPECT_EQ(LocalAddress::choose({loopback}), std::nullopt);
    EXPECT_EQ(LocalAddress::choose({loopback, down, ipv6, unconvertible, up("docker0", "172.17.0.1")}),
              QStringLiteral("172.17.0.1"));
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
