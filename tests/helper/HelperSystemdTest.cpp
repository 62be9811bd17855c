#include "QtPrinters.h"
#include "FakeSystemd.h"
#include "HelperProcess.h"
#include "PrivateBus.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

const QString kSchedule = QStringLiteral("scheduleWakeAt");
const QString kCancel = QStringLiteral("cancelWakeAt");

// The helper with its real power manager, talking to a stand-in systemd on a
// bus of the test's own that it takes for the system bus.
class HelperSystemdTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (bus.address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
        systemd = std::make_unique<FakeSystemd>(bus.address());
        ASSERT_TRUE(systemd->isServing());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus.address());
        helper.setEnvironment(environment);
        ASSERT_TRUE(helper.start({}, false)) << qPrintable(helper.logLines().join(QLatin1Char('\n')));
    }

    PrivateBus bus;
    std::unique_ptr<FakeSystemd> systemd;
    HelperProcess helper;
};

TEST_F(HelperSystemdTest, WakeIsATransientTimerThatWakesTheSystem)
{
    const QDateTime wake = QDateTime::currentDateTimeUtc().addSecs(7200);
    const qint64 seconds = wake.toSecsSinceEpoch();
    const QString name = QStringLiteral("tivolux-recorder-wake-%1").arg(seconds);
    HelperClient client(helper.socketPath());

    EXPECT_EQ(client.request(kSchedule, seconds), true);

    const QList<FakeSystemd::Call> started = systemd->calls(QStringLiteral("StartTransientUnit"));
    ASSERT_EQ(started.size(), 1);
    const QString arguments = started[0].arguments;
    EXPECT_TRUE(arguments.startsWith(QStringLiteral("\"%1.timer\", \"fail\", [").arg(name))) << qPrintable(arguments);
    const QString calendar = wake.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
    EXPECT_TRUE(arguments.contains(QStringLiteral("(\"TimersCalendar\", <[(\"OnCalendar\", \"%1\")]>)").arg(calendar)))
        << qPrintable(arguments);
    EXPECT_TRUE(arguments.contains(QStringLiteral("(\"WakeSystem\", <true>)")));
    EXPECT_TRUE(arguments.contains(QStringLiteral("(\"RemainAfterElapse\", <false>)")));
    EXPECT_TRUE(arguments.contains(QStringLiteral("[(\"%1.service\", [").arg(name)));
    EXPECT_TRUE(arguments.contains(QStringLiteral("(\"ExecStart\", <[(\"/bin/true\", [\"true\"], false)]>)")));
    EXPECT_EQ(helper.logLines(),
              QStringList{QStringLiteral("[TivoluxRecorderHelper] schedule wake %1: ok")
                              .arg(wake.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'")))});

    // The same date again finds its timer armed.
    EXPECT_EQ(client.request(kSchedule, seconds), true);

    EXPECT_EQ(client.request(kCancel, seconds), true);
    EXPECT_EQ(systemd->calls(QStringLiteral("StopUnit")).last().arguments,
              QStringLiteral("\"%1.timer\", \"replace\"").arg(name));
    EXPECT_FALSE(systemd->isActive(name + QStringLiteral(".timer")));
    // Nothing is armed any more at that date.
    EXPECT_EQ(client.request(kCancel, seconds), false);
}

TEST_F(HelperSystemdTest, RefusalBySystemdIsLoggedAsANegativeErrorNumber)
{
    const QDateTime wake = QDateTime::currentDateTimeUtc().addSecs(600);
    systemd->failNext(QStringLiteral("StartTransientUnit"), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                      QStringLiteral("Access denied"));
    HelperClient client(helper.socketPath());

    EXPECT_EQ(client.request(kSchedule, wake.toSecsSinceEpoch()), false);
    EXPECT_EQ(helper.logLines(),
              QStringList{QStringLiteral("[TivoluxRecorderHelper] schedule wake %1: error -13")
                              .arg(wake.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'")))});
}

} // namespace
