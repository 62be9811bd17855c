#include "QtPrinters.h"
#include "FakeSystemBus.h"
#include "HelperProcess.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// The helper with its real power manager, talking to a stand-in systemd on a
// bus of the test's own that it takes for the system bus.
TEST(HelperSystemdTest, WakeIsATransientTimerThatWakesTheSystemAndRefusalsAreLogged)
{
    FakeSystemBus systemd;
    if (systemd.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not available";
    HelperProcess helper;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemd.address());
    helper.setEnvironment(environment);
    ASSERT_TRUE(helper.start({}, false)) << qPrintable(helper.logLines().join(QLatin1Char('\n')));
    HelperClient client(helper.socketPath());
    const QString schedule = QStringLiteral("scheduleWakeAt");
    const QString cancel = QStringLiteral("cancelWakeAt");

    const QDateTime refused = QDateTime::currentDateTimeUtc().addSecs(600);
    systemd.failNext(QStringLiteral("StartTransientUnit"), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                     QStringLiteral("Access denied"));
    EXPECT_EQ(client.request(schedule, refused.toSecsSinceEpoch()), false);
    EXPECT_EQ(helper.logLines(),
              QStringList{QStringLiteral("[TivoluxRecorderHelper] schedule wake %1: error -13")
                              .arg(refused.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'")))});

    const QDateTime wake = QDateTime::currentDateTimeUtc().addSecs(7200);
    const qint64 seconds = wake.toSecsSinceEpoch();
    const QString timer = QStringLiteral("tivolux-recorder-wake-%1-%2.timer").arg(::getuid()).arg(seconds);
    EXPECT_EQ(client.request(schedule, seconds), true);
    const QList<FakeSystemBus::Call> started = systemd.calls(QStringLiteral("StartTransientUnit"));
    ASSERT_EQ(started.size(), 2);
    EXPECT_EQ(started.last().unit, timer);
    EXPECT_EQ(started.last().properties.value(QStringLiteral("WakeSystem")), QVariant(true));
    EXPECT_EQ(started.last().properties.value(QStringLiteral("TimersCalendar")),
              QVariant(wake.toString(QStringLiteral("'OnCalendar' yyyy-MM-dd HH:mm:ss 'UTC'"))));

    // The same date again finds its timer armed.
    EXPECT_EQ(client.request(schedule, seconds), true);
    EXPECT_EQ(client.request(cancel, seconds), true);
    EXPECT_FALSE(systemd.isActive(timer));
    // Nothing is armed any more at that date.
    EXPECT_EQ(client.request(cancel, seconds), false);

    // Scheduled again while the stopped timer is still loaded: it is armed
    // again, not taken for armed because it exists.
    EXPECT_EQ(client.request(schedule, seconds), true);
    EXPECT_TRUE(systemd.isActive(timer));
    EXPECT_EQ(client.request(cancel, seconds), true);
    // Once systemd has unloaded it, it is created afresh.
    systemd.collectStoppedUnits();
    EXPECT_EQ(client.request(schedule, seconds), true);
    EXPECT_TRUE(systemd.isActive(timer));
}

} // namespace
