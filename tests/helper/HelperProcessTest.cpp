#include "QtPrinters.h"
#include "FakeSystemBus.h"
#include "HelperProcess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// 2030-01-01 00:00:00 UTC, the helper's fake "now".
constexpr qint64 kNow = 1893456000;
constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 86400;
const QString kSchedule = QStringLiteral("scheduleWakeAt");
const QString kCancel = QStringLiteral("cancelWakeAt");
const QStringList kFakeNow{QStringLiteral("--fake-now"), QString::number(kNow)};

QString logged(const char *text)
{
    return QStringLiteral("[TivoluxRecorderHelper] ") + QLatin1String(text);
}

TEST(HelperProcessTest, SchedulingRefusesThePastAndThirtyDaysAheadAndCancelingAnyDateReachesThePowerManager)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.start(kFakeNow + QStringList{QStringLiteral("--fake-held"), QString::number(kNow - kHour),
                                                    QStringLiteral("--fake-refuse"), QString::number(kNow + kHour)}));
    HelperClient client(helper.socketPath());

    EXPECT_EQ(client.request(kSchedule, kNow + 30 * kDay - kHour), true);
    EXPECT_EQ(client.request(kSchedule, kNow + 30 * kDay), false);
    EXPECT_EQ(client.request(kSchedule, kNow - 1), false);
    EXPECT_EQ(client.request(kSchedule, kNow), false);
    EXPECT_EQ(client.request(kSchedule, kNow + 1), true);
    EXPECT_EQ(client.request(kSchedule, kNow + kHour), false);   // refused by the power manager
    EXPECT_EQ(client.request(kCancel, kNow - kHour), true);      // past, but held
    EXPECT_EQ(client.request(kCancel, kNow + 40 * kDay), false); // not held

    // Dates refused by the helper itself do not reach the power manager.
    EXPECT_EQ(helper.recordedCalls(),
              (QStringList{QStringLiteral("schedule 1896044400 -> 0"), QStringLiteral("schedule 1893456001 -> 0"),
                           QStringLiteral("schedule 1893459600 -> -22"), QStringLiteral("cancel 1893452400 -> 0"),
                           QStringLiteral("cancel 1896912000 -> -2")}));
}

TEST(HelperProcessTest, MalformedOrOversizedRequestClosesOnlyItsConnection)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.start(kFakeNow));
    for (const QByteArray &bad : {QByteArray("hello\n"), QByteArray(2000, 'x'),
                                  QByteArray("{\"id\":1,\"method\":\"rebootNow\",\"date\":1893459600}\n"),
                                  "{\"id\":1,\"method\":\"scheduleWakeAt\",\"date\":1893459600," + QByteArray(1100, ' ')
                                      + "}\n"}) {
        HelperClient client(helper.socketPath());
        client.send(bad);
        EXPECT_TRUE(client.closedByHelper()) << bad.left(60).toStdString();
    }

    HelperClient client(helper.socketPath());
    // Two requests in one write are both answered, in order.
    client.send("{\"id\":7,\"method\":\"scheduleWakeAt\",\"date\":1893459600}\n"
                "{\"id\":8,\"method\":\"cancelWakeAt\",\"date\":1893459600}\n");
    EXPECT_EQ(client.nextLine(), QByteArray("{\"id\":7,\"reply\":true}"));
    EXPECT_EQ(client.nextLine(), QByteArray("{\"id\":8,\"reply\":true}"));
    EXPECT_EQ(helper.recordedCalls(), (QStringList{QStringLiteral("schedule 1893459600 -> 0"),
                                                   QStringLiteral("cancel 1893459600 -> 0")}));
}

TEST(HelperProcessTest, InstalledProgramServesOnlyTheInstalledApplicationAndRefusesTheFakeAndTestOptions)
{
    // A listening socket made the way the service manager makes one.
    QTemporaryDir folder;
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    const QString path = folder.filePath(QStringLiteral("activated.sock"));
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    ASSERT_EQ(::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(descriptor, 8), 0);
    const QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment activated = plain;
    activated.insert(QStringLiteral("LISTEN_FDS"), QStringLiteral("1"));

    // The socket as descriptor 3, named in LISTEN_FDS and LISTEN_PID (the
    // shell's process id, which the helper keeps through exec).
    QProcess helper;
    helper.setProcessEnvironment(activated);
    // Runs in the child before exec; it must not touch the parent's memory.
    helper.setChildProcessModifier([descriptor] { ::dup2(descriptor, 3); });
    helper.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("export LISTEN_PID=$$; exec \"$0\""),
                                             HelperProcess::executable()});
    ASSERT_TRUE(helper.waitForStarted());
    ::close(descriptor);
    // This test program is not the installed application: closed unserved.
    HelperClient client(path);
    EXPECT_EQ(client.request(kSchedule, QDateTime::currentSecsSinceEpoch() + kHour), std::nullopt);
    EXPECT_TRUE(client.closedByHelper());
    EXPECT_EQ(helper.state(), QProcess::Running);
    helper.kill();
    helper.waitForFinished();

    // The installed program has no fake power manager, even in the test
    // mode; handed a socket, it takes no option; without one there is
    // nothing to serve.
    activated.insert(QStringLiteral("LISTEN_PID"), QStringLiteral("1"));
    const QString socket = folder.filePath(QStringLiteral("helper.sock"));
    const struct { QStringList arguments; const QProcessEnvironment &environment; } cases[] = {
        {{QStringLiteral("--socket"), socket, QStringLiteral("--fake-power-manager"), socket + QStringLiteral(".txt")},
         plain},
        {{QStringLiteral("--socket"), socket, QStringLiteral("--fake-now"), QStringLiteral("0")}, plain},
        {{QStringLiteral("--allowed-client"), QStringLiteral("/bin/sh")}, activated},
        {{}, plain},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        QProcess process;
        process.setProcessEnvironment(c.environment);
        process.start(HelperProcess::executable(), c.arguments);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 2);
    }
}

// Not a test of its own: the client program that the upgrade test runs
// from a copy of this executable. Sends the request on its input ("METHOD
// SECONDS") and prints the verdict.
TEST(HelperClientProgram, AsksWhatItIsTold)
{
    const QString socket = qEnvironmentVariable("TIVOLUX_HELPER_CLIENT_SOCKET");
    if (socket.isEmpty())
        GTEST_SKIP() << "run by the upgrade test";
    std::string method;
    qint64 seconds = 0;
    std::cin >> method >> seconds;
    const std::optional<bool> reply = HelperClient(socket).request(QString::fromStdString(method), seconds);
    std::printf("reply %s\n", !reply ? "none" : *reply ? "true" : "false");
}

TEST(HelperProcessTest, UsersReachOnlyTheirOwnWakes)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    HelperProcess helper;
    ASSERT_TRUE(helper.start(kFakeNow));
    HelperClient client(helper.socketPath());
    // The helper takes the user who connected.
    ASSERT_EQ(::seteuid(65534), 0);
    HelperClient other(helper.socketPath());
    ASSERT_EQ(::seteuid(0), 0);

    EXPECT_EQ(other.request(kSchedule, kNow + kHour), true);
    // The same date of another user is another wake; cancelling it leaves
    // the first one alone.
    EXPECT_EQ(client.request(kCancel, kNow + kHour), false);
    EXPECT_EQ(client.request(kSchedule, kNow + kHour), true);
    EXPECT_EQ(client.request(kCancel, kNow + kHour), true);
    EXPECT_EQ(other.request(kCancel, kNow + kHour), true);
    EXPECT_EQ(helper.recordedCalls(), (QStringList{QStringLiteral("schedule 1893459600 uid 65534 -> 0"),
                                                   QStringLiteral("cancel 1893459600 -> -2"),
                                                   QStringLiteral("schedule 1893459600 -> 0"),
                                                   QStringLiteral("cancel 1893459600 -> 0"),
                                                   QStringLiteral("cancel 1893459600 uid 65534 -> 0")}));
}

TEST(HelperProcessTest, EachUserHoldsBoundedWakesAndMakesBoundedRequestsWithOneLogLinePerRefusalRun)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.start(kFakeNow + QStringList{QStringLiteral("--most-held"), QStringLiteral("2"),
                                                    QStringLiteral("--most-requests"), QStringLiteral("8"),
                                                    QStringLiteral("--rate-window"), QStringLiteral("600000")}));
    HelperClient client(helper.socketPath());

    EXPECT_EQ(client.request(kSchedule, kNow + 1 * kHour), true);
    EXPECT_EQ(client.request(kSchedule, kNow + 2 * kHour), true);
    EXPECT_EQ(client.request(kSchedule, kNow + 2 * kHour), true) << "a wake held already is no new one";
    EXPECT_EQ(client.request(kSchedule, kNow + 3 * kHour), false);
    EXPECT_EQ(client.request(kSchedule, kNow + 4 * kHour), false);
    EXPECT_EQ(client.request(kCancel, kNow + 1 * kHour), true);
    EXPECT_EQ(client.request(kSchedule, kNow + 3 * kHour), true);
    EXPECT_EQ(client.request(kCancel, kNow + 3 * kHour), true);
    // The eight requests of the window are used up, on any connection.
    EXPECT_EQ(client.request(kCancel, kNow + 2 * kHour), false);
    EXPECT_EQ(HelperClient(helper.socketPath()).request(kCancel, kNow + 2 * kHour), false);

    EXPECT_EQ(helper.recordedCalls().size(), 6) << "refused requests reach no power manager";
    EXPECT_EQ(helper.logLines().filter(QStringLiteral("refusing")),
              (QStringList{logged("refusing wakes of uid %1: it holds 2").arg(::getuid()),
                           logged("refusing requests of uid %1: more than 8 in 600000 ms").arg(::getuid())}));
}

TEST(HelperProcessTest, ApplicationStartedBeforeAnUpgradeIsStillServed)
{
    QTemporaryDir folder;
    const QString installed = folder.filePath(QStringLiteral("tivolux-recorder"));
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), installed));
    HelperProcess helper;
    ASSERT_TRUE(helper.start(kFakeNow + QStringList{QStringLiteral("--allowed-client"), installed}));
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TIVOLUX_HELPER_CLIENT_SOCKET"), helper.socketPath());
    client.setProcessEnvironment(environment);
    client.start(installed, {QStringLiteral("--gtest_filter=HelperClientProgram.*")});
    ASSERT_TRUE(client.waitForStarted());
    // The package manager puts the new executable in place of the old one
    // while the application runs; then the application asks.
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), installed + QStringLiteral(".new")));
    ASSERT_EQ(::rename(QFile::encodeName(installed + QStringLiteral(".new")).constData(),
                       QFile::encodeName(installed).constData()), 0);
    client.write(QStringLiteral("%1 %2\n").arg(kSchedule).arg(kNow + kHour).toUtf8());
    client.closeWriteChannel();
    ASSERT_TRUE(client.waitForFinished(10000));
    EXPECT_TRUE(client.readAllStandardOutput().contains("\nreply true\n"));
    EXPECT_EQ(helper.recordedCalls(), QStringList{QStringLiteral("schedule 1893459600 -> 0")});
}

// The helper with its real power manager, talking to a stand-in systemd on a
// bus of the test's own that it takes for the system bus.
TEST(HelperSystemdTest, WakeIsATransientTimerThatWakesTheSystemAndRefusalsAreLogged)
{
    FakeSystemBus systemd;
    if (systemd.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not available";
    HelperProcess helper;
    ASSERT_TRUE(helper.start({}, systemd.address())) << qPrintable(helper.logLines().join(QLatin1Char('\n')));
    HelperClient client(helper.socketPath());

    const QDateTime refused = QDateTime::currentDateTimeUtc().addSecs(600);
    systemd.refuseNext(QStringLiteral("StartTransientUnit"));
    EXPECT_EQ(client.request(kSchedule, refused.toSecsSinceEpoch()), false);
    EXPECT_EQ(helper.logLines(), QStringList{logged("schedule wake %1: error -13")
                                                 .arg(refused.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'")))});

    const QDateTime wake = QDateTime::currentDateTimeUtc().addSecs(7200);
    const qint64 seconds = wake.toSecsSinceEpoch();
    const QString timer = QStringLiteral("tivolux-recorder-wake-%1-%2.timer").arg(::getuid()).arg(seconds);
    EXPECT_EQ(client.request(kSchedule, seconds), true);
    const FakeSystemBus::Call started = systemd.calls(QStringLiteral("StartTransientUnit")).last();
    EXPECT_EQ(started.unit, timer);
    EXPECT_EQ(started.properties.value(QStringLiteral("WakeSystem")), QVariant(true));
    EXPECT_EQ(started.properties.value(QStringLiteral("TimersCalendar")),
              QVariant(wake.toString(QStringLiteral("'OnCalendar' yyyy-MM-dd HH:mm:ss 'UTC'"))));

    // The same date again finds its timer armed; once cancelled, nothing is
    // armed at that date any more.
    EXPECT_EQ(client.request(kSchedule, seconds), true);
    EXPECT_EQ(client.request(kCancel, seconds), true);
    EXPECT_FALSE(systemd.isActive(timer));
    EXPECT_EQ(client.request(kCancel, seconds), false);
    // Scheduled again while the stopped timer is still loaded: it is armed
    // again, not taken for armed because it exists.
    EXPECT_EQ(client.request(kSchedule, seconds), true);
    EXPECT_TRUE(systemd.isActive(timer));
}

} // namespace
