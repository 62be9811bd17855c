#include "QtPrinters.h"
#include "FakeSystemBus.h"
#include "LogindSleepInhibitor.h"
#include "LogindWakeNotifier.h"
#include "SystemdHelperRegistration.h"
#include "TestSupport.h"
#include "WakeScheduler.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Status = HelperRegistration::Status;
using State = SleepActivity::State;
using testsupport::waitUntil;

const QString kSocket = QString::fromLatin1(SystemdHelperRegistration::kSocketUnit);

// Registers or unregisters; answers the failure text, or nothing on success.
std::optional<QString> request(HelperRegistration &registration, bool registering)
{
    std::optional<std::optional<QString>> answer;
    const auto done = [&](const std::optional<QString> &failure) { answer = failure; };
    registering ? registration.registerService(done) : registration.unregisterService(done);
    EXPECT_TRUE(waitUntil([&] { return answer.has_value(); }));
    return answer.value_or(QStringLiteral("no answer"));
}

// The platform's pieces against stand-ins for systemd and logind on a bus of
// the test's own, or on no bus at all.
class SystemBusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (system.address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
    }

    QDBusConnection client() { return QDBusConnection::connectToBus(system.address(), QStringLiteral("client")); }
    QDBusConnection noBus()
    {
        return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("no-bus"));
    }

    FakeSystemBus system;
};

TEST_F(SystemBusTest, RegisteringEnablesAndStartsTheSocketUnitARefusalAwaitsApprovalAndNoBusFails)
{
    SystemdHelperRegistration registration(client());
    EXPECT_EQ(registration.status(), Status::NotFound);
    // A failure other than a refused authorisation awaits no approval.
    EXPECT_EQ(request(registration, true), QStringLiteral("Unit file %1 does not exist.").arg(kSocket));
    EXPECT_EQ(registration.status(), Status::NotFound);

    system.setUnitFileState(kSocket, QStringLiteral("disabled"));
    system.refuseNext(QStringLiteral("EnableUnitFiles"));
    EXPECT_EQ(request(registration, true), QStringLiteral("Access denied"));
    EXPECT_EQ(registration.status(), Status::RequiresApproval);

    EXPECT_EQ(request(registration, true), std::nullopt);
    EXPECT_EQ(registration.status(), Status::Enabled);
    EXPECT_TRUE(system.isActive(kSocket));
    EXPECT_TRUE(system.calls(QStringLiteral("EnableUnitFiles")).last().interactiveAuthorisation);

    // A refused disabling leaves the helper running.
    system.refuseNext(QStringLiteral("DisableUnitFiles"));
    EXPECT_EQ(request(registration, false), QStringLiteral("Access denied"));
    EXPECT_EQ(registration.status(), Status::Enabled);
    EXPECT_TRUE(system.isActive(kSocket));

    EXPECT_EQ(request(registration, false), std::nullopt);
    EXPECT_EQ(registration.status(), Status::NotRegistered);
    EXPECT_FALSE(system.isActive(kSocket));
    QStringList order, expected;
    for (const FakeSystemBus::Call &call : system.calls()) {
        if (call.method != QLatin1String("GetUnitFileState"))
            order << call.method + QLatin1Char(' ') + call.unit;
    }
    for (const char *method : {"EnableUnitFiles", "EnableUnitFiles", "EnableUnitFiles", "StartUnit",
                               "DisableUnitFiles", "DisableUnitFiles", "StopUnit"})
        expected << QLatin1String(method) + QLatin1Char(' ') + kSocket;
    EXPECT_EQ(order, expected << QStringLiteral("StopUnit ") + SystemdHelperRegistration::kServiceUnit);

    SystemdHelperRegistration busless(noBus());
    EXPECT_EQ(busless.status(), Status::NotFound);
    EXPECT_NE(request(busless, true), std::nullopt);
    EXPECT_NE(request(busless, false), std::nullopt);
}

// Only the first reading is waited for; a later change is read in the
// background and announced.
TEST_F(SystemBusTest, SavesAskSystemdOncePerCacheLifetimeAndNeverWaitAfterTheFirstReading)
{
    testsupport::clearSettings();
    system.setUnitFileState(kSocket, QStringLiteral("enabled"));
    QDateTime clock = QDateTime::fromSecsSinceEpoch(1893456000, Qt::UTC);
    WakeScheduler::Environment environment;
    environment.registration = std::make_shared<SystemdHelperRegistration>(client());
    environment.now = [&] { return clock; };
    environment.bootID = [] { return QStringLiteral("boot"); };
    WakeScheduler scheduler(std::move(environment));
    int changes = 0;
    QObject::connect(&scheduler, &WakeScheduler::wakeStateDidChange, [&] { ++changes; });
    const auto stateQueries = [&] { return system.calls(QStringLiteral("GetUnitFileState")).size(); };

    for (int save = 0; save < 20; ++save) {
        scheduler.sync({clock.addSecs(3600 + save)});
        EXPECT_TRUE(scheduler.isOn());
        clock = clock.addMSecs(1000);
    }
    EXPECT_EQ(stateQueries(), 1);

    system.setUnitFileState(kSocket, QStringLiteral("disabled"));
    clock = clock.addSecs(10);
    scheduler.sync({clock.addSecs(3600)});
    EXPECT_TRUE(scheduler.isOn()) << "the last reading, while systemd is asked";
    ASSERT_TRUE(waitUntil([&] { return changes == 1; }));
    EXPECT_FALSE(scheduler.isOn());
    EXPECT_EQ(stateQueries(), 2);

    // A clock set back does not keep an old reading alive.
    clock = clock.addSecs(-3600);
    scheduler.isOn();
    ASSERT_TRUE(waitUntil([&] { return stateQueries() == 3; }));
    testsupport::clearSettings();
}

// A sleep hold settles after begin() has returned, never within it.
TEST_F(SystemBusTest, AGrantedLockIsHeldUntilTheHoldEndsAndARefusalSilenceOrMissingBusFailsTheHold)
{
    int settled = 0;
    const auto begin = [&](LogindSleepInhibitor &inhibitor) {
        auto hold = inhibitor.begin(QStringLiteral("Recording"), [&] { ++settled; });
        EXPECT_EQ(hold->state(), State::Pending);
        return hold;
    };
    LogindSleepInhibitor inhibitor(client());
    auto held = begin(inhibitor);
    ASSERT_TRUE(waitUntil([&] { return settled == 1; }));
    EXPECT_EQ(held->state(), State::Held);
    EXPECT_TRUE(system.lockHeld());
    held.reset();
    EXPECT_FALSE(system.lockHeld());

    system.answerInhibitWith(FakeSystemBus::Inhibit::Refuse);
    auto refused = begin(inhibitor);
    ASSERT_TRUE(waitUntil([&] { return settled == 2; }));
    EXPECT_EQ(refused->state(), State::Failed);
    EXPECT_EQ(refused->failure(), QStringLiteral("Permission denied"));

    // A logind that never answers fails the hold once the wait is over.
    system.answerInhibitWith(FakeSystemBus::Inhibit::Silence);
    LogindSleepInhibitor hasty(client(), 100ms);
    auto silent = begin(hasty);
    ASSERT_TRUE(waitUntil([&] { return settled == 3; }));
    EXPECT_EQ(silent->state(), State::Failed);
    EXPECT_FALSE(silent->failure().isEmpty());

    LogindSleepInhibitor busless(noBus());
    auto failed = begin(busless);
    ASSERT_TRUE(waitUntil([&] { return settled == 4; }, 1s));
    EXPECT_EQ(failed->state(), State::Failed);
}

TEST_F(SystemBusTest, OnlyTheEndOfASleepIsAWake)
{
    LogindWakeNotifier notifier(client());
    QSignalSpy woke(&notifier, &SystemWakeNotifier::didWakeFromSleep);
    testsupport::spin(100ms); // the match rule reaches the bus
    system.sendPrepareForSleep(true);
    system.sendPrepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return woke.count() >= 1; }));
    testsupport::spin(50ms);
    EXPECT_EQ(woke.count(), 1);
}

} // namespace
