#include "QtPrinters.h"
#include "FakeRegistration.h"
#include "HelperProcess.h"
#include "RecordingManager.h"
#include "RecordingsFolder.h"
#include "SocketWakeHelperConnection.h"
#include "TestSupport.h"
#include "WakeScheduler.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The recording manager hands its scheduled starts to a wake scheduler that
// reaches the real helper program (with the fake power manager) over its
// socket.
class WakeHelperIntegrationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::clearSettings();
        ASSERT_TRUE(folder.isValid());
        QSettings().setValue(QLatin1String(kFolderPathSettingKey), folder.path());
        ASSERT_TRUE(helper.start({}));
        WakeScheduler::Environment environment;
        environment.registration = registration;
        const QString socketPath = helper.socketPath();
        environment.connectToHelper = [socketPath](QObject *parent) -> WakeHelperConnection * {
            return new SocketWakeHelperConnection(socketPath, parent);
        };
        scheduler = std::make_unique<WakeScheduler>(std::move(environment));
        RecordingManager::Environment managerEnvironment;
        managerEnvironment.wakeScheduler = scheduler.get();
        manager = std::make_unique<RecordingManager>(std::move(managerEnvironment));
        // What the main window does when the wake state changes.
        QObject::connect(scheduler.get(), &WakeScheduler::wakeStateDidChange, manager.get(),
                         &RecordingManager::syncWakes);
    }
    void TearDown() override
    {
        manager.reset();
        scheduler.reset();
        testsupport::clearSettings();
    }

    QUuid schedule(const QDateTime &start)
    {
        RecordingRequest request;
        request.title = QStringLiteral("Night Film");
        request.channelName = QStringLiteral("Channel One");
        request.channelID = QStringLiteral("ch-") + QString::number(start.toSecsSinceEpoch());
        request.streamURL = QStringLiteral("http://127.0.0.1:9/live.ts");
        request.programStart = start;
        request.programEnd = start.addSecs(3600);
        const auto result = manager->schedule(request);
        const auto *recording = std::get_if<Recording>(&result);
        return recording ? recording->id : QUuid();
    }

    bool recordedCallsBecome(const QStringList &expected)
    {
        return testsupport::waitUntil([&] { return helper.recordedCalls() == expected; });
    }

    static QString line(const QString &call, const QDateTime &start)
    {
        return QStringLiteral("%1 %2 -> 0").arg(call).arg(start.toSecsSinceEpoch() - 60);
    }

    QTemporaryDir folder;
    HelperProcess helper;
    std::shared_ptr<FakeRegistration> registration = std::make_shared<FakeRegistration>();
    std::unique_ptr<WakeScheduler> scheduler;
    std::unique_ptr<RecordingManager> manager;
};

// The scheduler's own tests prove the sequence of turning off and what a
// new launch sends; here the messages cross the real socket.
TEST_F(WakeHelperIntegrationTest, WakesFollowTheScheduledRecordingsUntilTurnedOff)
{
    const QDateTime base = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    const QDateTime first = base.addSecs(600);
    const QDateTime second = base.addSecs(1200);
    const QUuid firstID = schedule(first);
    schedule(second);
    testsupport::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(helper.recordedCalls().isEmpty()); // off: nothing is placed

    scheduler->turnOn();
    ASSERT_TRUE(scheduler->isOn());
    QStringList expected{line(QStringLiteral("schedule"), first), line(QStringLiteral("schedule"), second)};
    std::sort(expected.begin(), expected.end());
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QStringList calls = helper.recordedCalls();
        std::sort(calls.begin(), calls.end());
        return calls == expected;
    }));

    manager->stop(firstID); // withdrawn before it started
    expected = helper.recordedCalls() + QStringList{line(QStringLiteral("cancel"), first)};
    ASSERT_TRUE(recordedCallsBecome(expected));

    scheduler->turnOff();
    ASSERT_TRUE(recordedCallsBecome(expected + QStringList{line(QStringLiteral("cancel"), second)}));
    EXPECT_TRUE(testsupport::waitUntil([&] { return registration->unregisterRequests == 1; }));
}

TEST(SocketWakeHelperConnectionTest, MissingHelperFailsEveryMessage)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("absent.sock"));
    QPointer<WakeHelperConnection> connection = new SocketWakeHelperConnection(path);
    int invalidations = 0;
    QStringList errors;
    QObject::connect(connection, &WakeHelperConnection::invalidated, [&] { ++invalidations; });
    const auto reply = [&](bool) { errors.append(QStringLiteral("a reply")); };
    const auto error = [&](const QString &description) { errors.append(description); };
    const QDateTime inAnHour = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 3600, Qt::UTC);

    connection->scheduleWakeAt(inAnHour, reply, error);
    ASSERT_TRUE(testsupport::waitUntil([&] { return errors.size() == 1; }));
    connection->cancelWakeAt(inAnHour, reply, error);
    const QString expected = QStringLiteral("cannot talk to the helper at %1: nothing listens there").arg(path);
    EXPECT_EQ(errors, QStringList(2, expected));
    EXPECT_EQ(invalidations, 1);
    // The connection deletes itself; deferred deletions run only when asked
    // for outside a running event loop.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return connection.isNull();
    }));
}

} // namespace
