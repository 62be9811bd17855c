#include "QtPrinters.h"
#include "FakeSystemBus.h"
#include "SystemdHelperRegistration.h"
#include "TestSupport.h"
#include "WakeScheduler.h"

#include <QDBusConnection>
#include <gtest/gtest.h>

namespace {

using Status = HelperRegistration::Status;

const QString kSocket = QString::fromLatin1(SystemdHelperRegistration::kSocketUnit);
const QString kService = QString::fromLatin1(SystemdHelperRegistration::kServiceUnit);

// The registration against a stand-in systemd on a bus of the test's own.
class SystemdHelperRegistrationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        systemd = std::make_unique<FakeSystemBus>();
        if (systemd->address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
        client = std::make_unique<SystemdHelperRegistration>(
            QDBusConnection::connectToBus(systemd->address(), QStringLiteral("registration-client")));
    }
    void TearDown() override
    {
        client.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("registration-client"));
        systemd.reset();
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

    std::unique_ptr<FakeSystemBus> systemd;
    std::unique_ptr<SystemdHelperRegistration> client;
};

TEST_F(SystemdHelperRegistrationTest, StateFollowsTheSocketUnitFileAndARefusedAuthorisationAwaitsApproval)
{
    EXPECT_EQ(client->status(), Status::NotFound);
    // A failure other than a refused authorisation awaits no approval.
    EXPECT_EQ(run([&](auto done) { client->registerService(done); }),
              QStringLiteral("Unit file %1 does not exist.").arg(kSocket));
    EXPECT_EQ(client->status(), Status::NotFound);

    systemd->setUnitFileState(kSocket, QStringLiteral("disabled"));
    systemd->failNext(QStringLiteral("EnableUnitFiles"), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                      QStringLiteral("Access denied"));

    EXPECT_EQ(run([&](auto done) { client->registerService(done); }), QStringLiteral("Access denied"));
    EXPECT_EQ(client->status(), Status::RequiresApproval);
    EXPECT_TRUE(systemd->calls(QStringLiteral("StartUnit")).isEmpty());

    // An administrator enables it by hand.
    systemd->setUnitFileState(kSocket, QStringLiteral("enabled"));
    EXPECT_EQ(client->status(), Status::Enabled);
    systemd->setUnitFileState(kSocket, QStringLiteral("disabled"));
    EXPECT_EQ(client->status(), Status::NotRegistered);
}

TEST_F(SystemdHelperRegistrationTest, RegisteringEnablesAndStartsUnregisteringDisablesThenStopsSocketAndService)
{
    systemd->setUnitFileState(kSocket, QStringLiteral("disabled"));
    EXPECT_EQ(run([&](auto done) { client->registerService(done); }), std::nullopt);
    EXPECT_EQ(client->status(), Status::Enabled);
    EXPECT_TRUE(systemd->isActive(kSocket));
    ASSERT_EQ(systemd->calls(QStringLiteral("EnableUnitFiles")).size(), 1);
    EXPECT_TRUE(systemd->calls(QStringLiteral("EnableUnitFiles")).first().interactiveAuthorisation);

    EXPECT_EQ(run([&](auto done) { client->unregisterService(done); }), std::nullopt);

    EXPECT_EQ(client->status(), Status::NotRegistered);
    EXPECT_FALSE(systemd->isActive(kSocket));
    QStringList order;
    for (const FakeSystemBus::Call &call : systemd->calls()) {
        if (call.method != QLatin1String("GetUnitFileState"))
            order.append(call.method + QLatin1Char(' ') + call.unit);
    }
    EXPECT_EQ(order, (QStringList{QStringLiteral("EnableUnitFiles ") + kSocket, QStringLiteral("StartUnit ") + kSocket,
                                  QStringLiteral("DisableUnitFiles ") + kSocket,
                                  QStringLiteral("StopUnit ") + kSocket, QStringLiteral("StopUnit ") + kService}));
}

TEST_F(SystemdHelperRegistrationTest, RefusedDisablingLeavesTheHelperRunning)
{
    systemd->setUnitFileState(kSocket, QStringLiteral("disabled"));
    run([&](auto done) { client->registerService(done); });
    systemd->failNext(QStringLiteral("DisableUnitFiles"), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                      QStringLiteral("Access denied"));

    EXPECT_EQ(run([&](auto done) { client->unregisterService(done); }), QStringLiteral("Access denied"));

    EXPECT_EQ(client->status(), Status::Enabled);
    EXPECT_TRUE(systemd->isActive(kSocket));
    EXPECT_TRUE(systemd->calls(QStringLiteral("StopUnit")).isEmpty());
}

// Every save of the recordings reads whether wake scheduling is on: systemd
// is asked at most once per cache lifetime, and only the first reading is
// waited for; a later change is read in the background and announced.
TEST_F(SystemdHelperRegistrationTest, SavesAskSystemdOncePerCacheLifetimeAndNeverWaitAfterTheFirstReading)
{
    testsupport::clearSettings();
    systemd->setUnitFileState(kSocket, QStringLiteral("enabled"));
    QDateTime clock = QDateTime::fromSecsSinceEpoch(1893456000, Qt::UTC);
    WakeScheduler::Environment environment;
    environment.registration = std::move(client);
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
    EXPECT_EQ(systemd->calls(QStringLiteral("GetUnitFileState")).size(), 1);

    systemd->setUnitFileState(kSocket, QStringLiteral("disabled"));
    clock = clock.addSecs(10);
    scheduler.sync({clock.addSecs(3600)});
    EXPECT_TRUE(scheduler.isOn()) << "the last reading, while systemd is asked";
    ASSERT_TRUE(testsupport::waitUntil([&] { return changes == 1; }));
    EXPECT_FALSE(scheduler.isOn());
    EXPECT_EQ(systemd->calls(QStringLiteral("GetUnitFileState")).size(), 2);

    // A clock set back does not keep an old reading alive.
    clock = clock.addSecs(-3600);
    scheduler.isOn();
    ASSERT_TRUE(testsupport::waitUntil([&] { return systemd->calls(QStringLiteral("GetUnitFileState")).size() == 3; }));
    testsupport::clearSettings();
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
