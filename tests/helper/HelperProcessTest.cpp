#include "QtPrinters.h"
#include "HelperProcess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
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

TEST(HelperProcessTest, InstalledProgramRefusesTheFakeAndTheTestOptionsOutsideTheTestMode)
{
    QTemporaryDir folder;
    const QString socket = folder.filePath(QStringLiteral("helper.sock"));
    const QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment activated = plain;
    activated.insert(QStringLiteral("LISTEN_FDS"), QStringLiteral("1"));
    activated.insert(QStringLiteral("LISTEN_PID"), QStringLiteral("1"));

    // The installed program has no fake power manager, even in the test
    // mode; handed a socket, it takes no option; without one there is
    // nothing to serve.
    const struct { QStringList arguments; const QProcessEnvironment &environment; } cases[] = {
        {{QStringLiteral("--socket"), socket, QStringLiteral("--fake-power-manager"), folder.filePath(QStringLiteral("r"))}, plain},
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

} // namespace

namespace {

// One request as another user, from a child process of this program (whose
// executable the helper allows), through plain system calls only. Answers
// the helper's verdict, or nothing when no reply came.
std::optional<bool> requestAs(uid_t uid, const QString &socketPath, const QString &method, qint64 seconds)
{
    const QByteArray request = QStringLiteral("{\"id\":1,\"method\":\"%1\",\"date\":%2}\n").arg(method).arg(seconds).toUtf8();
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(socketPath).constData(), sizeof address.sun_path);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(uid) != 0 || ::setuid(uid) != 0)
            ::_exit(3);
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::write(descriptor, request.constData(), size_t(request.size())) != request.size())
            ::_exit(2);
        char reply[256] = {};
        size_t length = 0;
        while (length < sizeof reply - 1 && !std::memchr(reply, '\n', length)) {
            const ssize_t got = ::read(descriptor, reply + length, sizeof reply - 1 - length);
            if (got <= 0)
                ::_exit(2);
            length += size_t(got);
        }
        ::_exit(std::strstr(reply, "\"reply\":true") ? 1 : std::strstr(reply, "\"reply\":false") ? 0 : 2);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 1;
}

} // namespace

TEST(HelperProcessTest, UsersReachOnlyTheirOwnWakes)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    constexpr uid_t kOther = 65534;
    HelperProcess helper;
    ASSERT_TRUE(helper.start(fakeNow()));
    helper.openToEveryone();
    HelperClient client(helper.socketPath());

    EXPECT_EQ(requestAs(kOther, helper.socketPath(), kSchedule, kNow + kHour), true);
    // The same date of another user is another wake; cancelling it leaves
    // the first one alone.
    EXPECT_EQ(client.request(kCancel, kNow + kHour), false);
    EXPECT_EQ(client.request(kSchedule, kNow + kHour), true);
    EXPECT_EQ(client.request(kCancel, kNow + kHour), true);
    EXPECT_EQ(requestAs(kOther, helper.socketPath(), kCancel, kNow + kHour), true);
    EXPECT_EQ(helper.recordedCalls(),
              (QStringList{QStringLiteral("schedule 1893459600 uid 65534 -> 0"), QStringLiteral("cancel 1893459600 -> -2"),
                           QStringLiteral("schedule 1893459600 -> 0"), QStringLiteral("cancel 1893459600 -> 0"),
                           QStringLiteral("cancel 1893459600 uid 65534 -> 0")}));
}

TEST(HelperProcessTest, EachUserHoldsBoundedWakesAndMakesBoundedRequestsWithOneLogLinePerRefusalRun)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.start(fakeNow() + QStringList{QStringLiteral("--most-held"), QStringLiteral("2"),
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
    const QStringList refusals = helper.logLines().filter(QStringLiteral("refusing"));
    EXPECT_EQ(refusals, (QStringList{QStringLiteral("[TivoluxRecorderHelper] refusing wakes of uid %1: it holds 2")
                                         .arg(::getuid()),
                                     QStringLiteral("[TivoluxRecorderHelper] refusing requests of uid %1: more than 8 "
                                                    "in 600000 ms")
                                         .arg(::getuid())}));
}

// Not a test of its own: the client program of the next test, run from a
// copy of this executable. Asks the helper once when told to on its input.
TEST(HelperClientProgram, AsksOnceWhenTold)
{
    const QString socket = qEnvironmentVariable("TIVOLUX_HELPER_CLIENT_SOCKET");
    if (socket.isEmpty())
        GTEST_SKIP() << "run by ApplicationStartedBeforeAnUpgradeIsStillServed";
    std::string line;
    std::getline(std::cin, line);
    const std::optional<bool> reply = HelperClient(socket).request(kSchedule, kNow + kHour);
    std::printf("reply %s\n", !reply ? "none" : *reply ? "true" : "false");
    std::fflush(stdout);
}

TEST(HelperProcessTest, ApplicationStartedBeforeAnUpgradeIsStillServed)
{
    QTemporaryDir folder;
    const QString installed = folder.filePath(QStringLiteral("tivolux-recorder"));
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), installed));
    HelperProcess helper;
    ASSERT_TRUE(helper.start(fakeNow() + QStringList{QStringLiteral("--allowed-client"), installed}));

    QProcess application;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TIVOLUX_HELPER_CLIENT_SOCKET"), helper.socketPath());
    application.setProcessEnvironment(environment);
    application.start(installed, {QStringLiteral("--gtest_filter=HelperClientProgram.*")});
    ASSERT_TRUE(application.waitForStarted());

    // The package manager puts the new executable in place of the old one.
    const QString upgraded = installed + QStringLiteral(".new");
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), upgraded));
    ASSERT_EQ(::rename(QFile::encodeName(upgraded).constData(), QFile::encodeName(installed).constData()), 0);

    application.write("ask\n");
    ASSERT_TRUE(application.waitForFinished(10000));
    EXPECT_TRUE(application.readAllStandardOutput().contains("reply true"));
    EXPECT_EQ(helper.recordedCalls(), QStringList{QStringLiteral("schedule 1893459600 -> 0")});
}
