#include "QtPrinters.h"
#include "HelperProcess.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

QStringList fakeNow()
{
    return {QStringLiteral("--fake-now"), QString::number(kNow)};
}

TEST(HelperProcessTest, SchedulingRefusesThePastAndThirtyDaysAheadAndCancelingAnyDateReachesThePowerManager)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.start(fakeNow() + QStringList{QStringLiteral("--fake-held"), QString::number(kNow - kHour),
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

    // Dates refused by the helper itself reach neither the power manager nor the log.
    EXPECT_EQ(helper.recordedCalls(),
              (QStringList{QStringLiteral("schedule 1896044400 -> 0"), QStringLiteral("schedule 1893456001 -> 0"),
                           QStringLiteral("schedule 1893459600 -> -22"), QStringLiteral("cancel 1893452400 -> 0"),
                           QStringLiteral("cancel 1896912000 -> -2")}));
    EXPECT_EQ(helper.logLines(),
              (QStringList{QStringLiteral("[TivoluxRecorderHelper] schedule wake 2030-01-30 23:00:00 +0000: ok"),
                           QStringLiteral("[TivoluxRecorderHelper] schedule wake 2030-01-01 00:00:01 +0000: ok"),
                           QStringLiteral("[TivoluxRecorderHelper] schedule wake 2030-01-01 01:00:00 +0000: error -22")}));
}

TEST(HelperProcessTest, MalformedOrOversizedRequestClosesOnlyItsConnection)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.start(fakeNow()));
    const QList<QByteArray> badRequests{
        "hello\n",
        "{\"id\":1,\"method\":\"rebootNow\",\"date\":1893459600}\n",
        QByteArray(2000, 'x'),
        "{\"id\":1,\"method\":\"scheduleWakeAt\",\"date\":1893459600," + QByteArray(1100, ' ') + "}\n",
    };
    for (const QByteArray &bad : badRequests) {
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

// A listening Unix socket made the way the service manager makes one.
int listeningSocket(const QString &path)
{
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path);
    if (::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(descriptor, 8) != 0)
        return -1;
    return descriptor;
}

TEST(HelperProcessTest, HandedOverSocketServesOnlyTheInstalledApplication)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("activated.sock"));
    const int descriptor = listeningSocket(path);
    ASSERT_GE(descriptor, 0);

    // As the service manager does: the socket as descriptor 3, named for the
    // started process in LISTEN_FDS and LISTEN_PID (the shell's own process
    // id, which the helper keeps through exec).
    QProcess helper;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LISTEN_FDS"), QStringLiteral("1"));
    helper.setProcessEnvironment(environment);
    helper.setProgram(QStringLiteral("/bin/sh"));
    helper.setArguments({QStringLiteral("-c"), QStringLiteral("export LISTEN_PID=$$; exec \"$0\""),
                         HelperProcess::executable()});
    // Runs in the child before exec; it must not touch the parent's memory.
    helper.setChildProcessModifier([descriptor] { ::dup2(descriptor, 3); });
    helper.start();
    ASSERT_TRUE(helper.waitForStarted());
    ::close(descriptor);

    // This test program is not the installed application: the helper takes
    // the connection and closes it unserved.
    HelperClient client(path);
    EXPECT_EQ(client.request(kSchedule, QDateTime::currentSecsSinceEpoch() + kHour), std::nullopt);
    EXPECT_TRUE(client.closedByHelper());
    EXPECT_EQ(helper.state(), QProcess::Running);
    helper.kill();
    helper.waitForFinished();
}

TEST(HelperProcessTest, TestOptionsAreRefusedOutsideTheTestMode)
{
    const QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment activated = plain;
    activated.insert(QStringLiteral("LISTEN_FDS"), QStringLiteral("1"));
    activated.insert(QStringLiteral("LISTEN_PID"), QStringLiteral("1"));
    const QString socket = QStringLiteral("/nonexistent/helper.sock");
    const QString record = QStringLiteral("/nonexistent/record.txt");

    // Handed a socket by the service manager, no option is accepted; the fake's
    // options need the fake, and without a socket there is nothing to serve.
    const struct { QStringList arguments; const QProcessEnvironment &environment; } cases[] = {
        {{QStringLiteral("--socket"), socket, QStringLiteral("--fake-power-manager"), record}, activated},
        {{QStringLiteral("--allowed-client"), QStringLiteral("/bin/sh")}, activated},
        {{QStringLiteral("--socket"), socket, QStringLiteral("--fake-now"), QStringLiteral("0")}, plain},
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

} // namespace
