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

const QString kSocket = QString::fromLatin1(SystemdHelperRegistration::kSocketUnit);
const QString kService = QString::fromLatin1(SystemdHelperRegistration::kServiceUnit);

// The platform's pieces against stand-ins for systemd and logind on a bus of
// the test's own.
class SystemBusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        system = std::make_unique<FakeSystemBus>();
        if (system->address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
    }
    void TearDown() override
    {
        registration.reset();
        QDBusConnection::disconnectFromBus(kClient);
        system.reset();
    }

    QDBusConnection client() const { return QDBusConnection::connectToBus(system->address(), kClient); }

    const QString kClient = QStringLiteral("system-bus-client");
    std::unique_ptr<FakeSystemBus> system;
    std::unique_ptr<SystemdHelperRegistration> registration;
};

class SystemdHelperRegistrationTest : public SystemBusTest
{
protected:
    void SetUp() override
    {
        SystemBusTest::SetUp();
        if (!IsSkipped())
            registration = std::make_unique<SystemdHelperRegistration>(client());
    }

    // Runs a request and answers its failure text, or nothing on success.
    std::optional<QString> run(const std::function<void(HelperRegistration::Completion)> &request)
    {
        bool done = false;
        std::optional<QString> failure;
        request([&](const std::optional<QString> &answer) {
            failure = answer;
            done = true;
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return done; }));
        return failure;
    }
};

class LogindTest : public SystemBusTest
{
protected:
    // Begins a hold; counts how often it settled, and whether within begin().
    std::unique_ptr<SleepActivity> begin(LogindSleepInhibitor &inhibitor)
    {
        inBegin = true;
        auto activity = inhibitor.begin(QStringLiteral("Recording"), [this] {
            settledInBegin = settledInBegin || inBegin;
            ++settled;
        });
        inBegin = false;
        return activity;
    }

    int settled = 0;
    bool inBegin = false;
    bool settledInBegin = false;
};

TEST_F(SystemdHelperRegistrationTest, StateFollowsTheSocketUnitFileAndARefusedAuthorisationAwaitsApproval)
{
    EXPECT_EQ(registration->status(), Status::NotFound);
    // A failure other than a refused authorisation awaits no approval.
    EXPECT_EQ(run([&](auto done) { registration->registerService(done); }),
              QStringLiteral("Unit file %1 does not exist.").arg(kSocket));
    EXPECT_EQ(registration->status(), Status::NotFound);

    system->setUnitFileState(kSocket, QStringLiteral("disabled"));
    system->failNext(QStringLiteral("EnableUnitFiles"), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                      QStringLiteral("Access denied"));

    EXPECT_EQ(run([&](auto done) { registration->registerService(done); }), QStringLiteral("Access denied"));
    EXPECT_EQ(registration->status(), Status::RequiresApproval);
    EXPECT_TRUE(system->calls(QStringLiteral("StartUnit")).isEmpty());

    // An administrator enables it by hand.
    system->setUnitFileState(kSocket, QStringLiteral("enabled"));
    EXPECT_EQ(registration->status(), Status::Enabled);
    system->setUnitFileState(kSocket, QStringLiteral("disabled"));
    EXPECT_EQ(registration->status(), Status::NotRegistered);
}

TEST_F(SystemdHelperRegistrationTest, RegisteringEnablesAndStartsUnregisteringDisablesThenStopsSocketAndService)
{
    system->setUnitFileState(kSocket, QStringLiteral("disabled"));
    EXPECT_EQ(run([&](auto done) { registration->registerService(done); }), std::nullopt);
    EXPECT_EQ(registration->status(), Status::Enabled);
    EXPECT_TRUE(system->isActive(kSocket));
    ASSERT_EQ(system->calls(QStringLiteral("EnableUnitFiles")).size(), 1);
    EXPECT_TRUE(system->calls(QStringLiteral("EnableUnitFiles")).first().interactiveAuthorisation);

    EXPECT_EQ(run([&](auto done) { registration->unregisterService(done); }), std::nullopt);

    EXPECT_EQ(registration->status(), Status::NotRegistered);
    EXPECT_FALSE(system->isActive(kSocket));
    QStringList order;
    for (const FakeSystemBus::Call &call : system->calls()) {
        if (call.method != QLatin1String("GetUnitFileState"))
            order.append(call.method + QLatin1Char(' ') + call.unit);
    }
    EXPECT_EQ(order, (QStringList{QStringLiteral("EnableUnitFiles ") + kSocket, QStringLiteral("StartUnit ") + kSocket,
                                  QStringLiteral("DisableUnitFiles ") + kSocket,
                                  QStringLiteral("StopUnit ") + kSocket, QStringLiteral("StopUnit ") + kService}));
}

TEST_F(SystemdHelperRegistrationTest, RefusedDisablingLeavesTheHelperRunning)
{
    system->setUnitFileState(kSocket, QStringLiteral("disabled"));
    run([&](auto done) { registration->registerService(done); });
    system->failNext(QStringLiteral("DisableUnitFiles"), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                      QStringLiteral("Access denied"));

    EXPECT_EQ(run([&](auto done) { registration->unregisterService(done); }), QStringLiteral("Access denied"));

    EXPECT_EQ(registration->status(), Status::Enabled);
    EXPECT_TRUE(system->isActive(kSocket));
    EXPECT_TRUE(system->calls(QStringLiteral("StopUnit")).isEmpty());
}

// Every save of the recordings reads whether wake scheduling is on: systemd
// is asked at most once per cache lifetime, and only the first reading is
// waited for; a later change is read in the background and announced.
TEST_F(SystemdHelperRegistrationTest, SavesAskSystemdOncePerCacheLifetimeAndNeverWaitAfterTheFirstReading)
{
    testsupport::clearSettings();
    system->setUnitFileState(kSocket, QStringLiteral("enabled"));
    QDateTime clock = QDateTime::fromSecsSinceEpoch(1893456000, Qt::UTC);
    WakeScheduler::Environment environment;
    environment.registration = std::move(registration);
    environment.now = [&] { return clock; };
    environment.bootID = [] { return QStringLiteral("boot"); };
    WakeScheduler scheduler(std::move(environment));
    int changes = 0;
    QObject::connect(&scheduler, &WakeScheduler::wakeStateDidChange, [&] { ++changes; });

    for (int save = 0; save < 20; ++save) {
        scheduler.sync({clock.addSecs(3600 + save)});
        EXPECT_TRUE(scheduler.isOn());
        clock = clock.addMSecs(1000);
    }
    EXPECT_EQ(system->calls(QStringLiteral("GetUnitFileState")).size(), 1);

    system->setUnitFileState(kSocket, QStringLiteral("disabled"));
    clock = clock.addSecs(10);
    scheduler.sync({clock.addSecs(3600)});
    EXPECT_TRUE(scheduler.isOn()) << "the last reading, while systemd is asked";
    ASSERT_TRUE(testsupport::waitUntil([&] { return changes == 1; }));
    EXPECT_FALSE(scheduler.isOn());
    EXPECT_EQ(system->calls(QStringLiteral("GetUnitFileState")).size(), 2);

    // A clock set back does not keep an old reading alive.
    clock = clock.addSecs(-3600);
    scheduler.isOn();
    ASSERT_TRUE(testsupport::waitUntil([&] { return system->calls(QStringLiteral("GetUnitFileState")).size() == 3; }));
    testsupport::clearSettings();
}

TEST_F(LogindTest, AGrantedLockIsHeldUntilTheActivityEndsAndWithoutABusTheHoldFails)
{
    LogindSleepInhibitor inhibitor(client());
    auto activity = begin(inhibitor);
    EXPECT_EQ(activity->state(), State::Pending);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 1; }));
    EXPECT_EQ(activity->state(), State::Held);
    EXPECT_TRUE(system->lockHeld());
    activity.reset();
    EXPECT_FALSE(system->lockHeld());

    // Without a bus the hold fails soon after begin().
    const QString name = QStringLiteral("logind-no-bus");
    LogindSleepInhibitor busless(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), name));
    auto failed = begin(busless);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 2; }, 1s));
    EXPECT_EQ(failed->state(), State::Failed);
    EXPECT_FALSE(settledInBegin);
    QDBusConnection::disconnectFromBus(name);
}

TEST_F(LogindTest, ARefusalOrSilenceFailsWithoutHoldingTheCallerUp)
{
    system->answerInhibitWith(FakeSystemBus::Inhibit::Refuse);
    LogindSleepInhibitor patient(client());
    auto refused = begin(patient);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 1; }));
    EXPECT_EQ(refused->state(), State::Failed);
    EXPECT_EQ(refused->failure(), QStringLiteral("Permission denied"));

    // A logind that never answers: begin() returns at once (still pending),
    // the hold fails once the wait is over.
    system->answerInhibitWith(FakeSystemBus::Inhibit::Silence);
    LogindSleepInhibitor hasty(client(), 100ms);
    auto silent = begin(hasty);
    EXPECT_EQ(silent->state(), State::Pending);
    ASSERT_TRUE(testsupport::waitUntil([&] { return settled == 2; }));
    EXPECT_EQ(silent->state(), State::Failed);
    EXPECT_FALSE(silent->failure().isEmpty());
    EXPECT_EQ(system->inhibitCalls(), 2);
    EXPECT_FALSE(settledInBegin);
}

TEST_F(LogindTest, OnlyTheEndOfASleepIsAWake)
{
    LogindWakeNotifier notifier(client());
    QSignalSpy woke(&notifier, &SystemWakeNotifier::didWakeFromSleep);
    testsupport::spin(100ms); // the match rule reaches the bus
    system->sendPrepareForSleep(true);
    system->sendPrepareForSleep(false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return woke.count() >= 1; }));
    testsupport::spin(50ms);
    EXPECT_EQ(woke.count(), 1);
}

} // namespace

TEST(SystemdHelperRegistrationWithoutBus, RequestsFailAtOnce)
{
    const QString name = QStringLiteral("no-bus");
    SystemdHelperRegistration registration(
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), name));
    EXPECT_EQ(registration.status(), Status::NotFound);
    for (const bool registering : {true, false}) {
        std::optional<std::optional<QString>> answer;
        const auto completion = [&](const std::optional<QString> &failure) { answer = failure; };
        if (registering)
            registration.registerService(completion);
        else
            registration.unregisterService(completion);
        ASSERT_TRUE(testsupport::waitUntil([&] { return answer.has_value(); }, std::chrono::milliseconds(2000)));
        EXPECT_TRUE(answer->has_value()) << "a failure, with its text";
    }
    QDBusConnection::disconnectFromBus(name);
}
